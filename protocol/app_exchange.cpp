#include "protocol/app_exchange.hpp"

#include "protocol/result_codes.hpp"

namespace fwburn {

namespace {

// Whether `got` bytes are a whole reply that passes its check, judged on a copy: the check decodes
// in place.
bool PassesAsRead(const uint8_t* reply, uint32_t got, uint32_t replyLength) {
    uint8_t copy[kLongReplyLength];
    if (got != replyLength || replyLength > sizeof copy) {
        return false;
    }
    std::memcpy(copy, reply, replyLength);
    return ReplyPassesLrc(copy, replyLength);
}

}  // namespace

uint32_t ReadReply(Device& device, uint8_t* reply, uint32_t replyLength) {
    std::memset(reply, 0, replyLength);
    uint32_t got = device.Read(reply, replyLength);
    // Bytes ahead of the ":" are the tail of an earlier reply that was still on the line when
    // the input was discarded. Read as part of this reply, they would leave this reply's own tail
    // for the next request, and every attempt after would come out of step the same way: the
    // controller answering each one while the exchange ends with no response. A whole reply that
    // passes as read stands, whatever its first and last two characters are (a ":" among the
    // last two is no start).
    const auto* start =
        got > 1 ? static_cast<const uint8_t*>(std::memchr(reply + 1, ':', got - 1)) : nullptr;
    if (reply[0] != ':' && start != nullptr && !PassesAsRead(reply, got, replyLength)) {
        const auto skipped = static_cast<uint32_t>(start - reply);
        std::memmove(reply, start, got - skipped);
        got -= skipped;
        std::memset(reply + got, 0, replyLength - got);
        got += device.Read(reply + got, replyLength - got);
    }
    return got;
}

bool ReplyPassesLrc(uint8_t* reply, uint32_t replyLength) {
    // Everything between ":" and CR LF is hex; neither of those is examined.
    return CheckLRC(reply + 1, static_cast<uint8_t>(replyLength - 3)) == 0;
}

bool WriteRequest(Device& device, const AppRequest& request) {
    return WriteRequest(device, reinterpret_cast<const uint8_t*>(request.text), request.length);
}

uint8_t FinalResultDecision(const uint8_t* reply, const ErrorReplyRow* rows, size_t rowCount) {
    if (ReplyByte(reply, 4) != kAsciiNak) {
        return kNoAcceptableReply;
    }
    const int errorClass = ReplyByte(reply, 5);
    const int state = ReplyByte(reply, 6);
    for (size_t i = 0; i < rowCount; ++i) {
        const ErrorReplyRow& row = rows[i];
        if ((row.errorClass < 0 || row.errorClass == errorClass) &&
            (row.state < 0 || row.state == state)) {
            return row.code;
        }
    }
    return kUnknownErrorClass;
}

}  // namespace fwburn

#include "protocol/app_exchange.hpp"

#include "protocol/result_codes.hpp"

namespace fwburn {

uint32_t ReadReply(Device& device, uint8_t* reply, uint32_t replyLength) {
    std::memset(reply, 0, replyLength);
    return device.Read(reply, replyLength);
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

// The attempt loop shared by the application-mode commands, and the decision they take from the
// last reply once the attempts have run out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/channel.hpp"
#include "protocol/frame.hpp"
#include "protocol/requests.hpp"
#include "protocol/retry.hpp"

namespace fwburn {

constexpr uint8_t kAsciiAck = 0x06;
constexpr uint8_t kAsciiNak = 0x15;

// Reply byte n stands at buffer position n + 1 once CheckLRC has decoded it.
inline uint8_t ReplyByte(const uint8_t* reply, int n) {
    return reply[n + 1];
}

// Clears the reply buffer and reads up to `replyLength` characters into it; returns the count.
// Bytes that came ahead of a ":" are dropped and the rest of the reply read after it, once.
uint32_t ReadReply(Device& device, uint8_t* reply, uint32_t replyLength);

// Checks and decodes a complete reply in place (the hex between ":" and CR LF).
bool ReplyPassesLrc(uint8_t* reply, uint32_t replyLength);

// Writes an application-mode request (after dropping unread input); true when all of it went.
bool WriteRequest(Device& device, const AppRequest& request);

// Two-counter retry rule: attempts go on until `accept(reply)` holds for a complete reply that
// passed the LRC check, or a counter reaches its sixth failure. Returns whether a reply was
// accepted; `reply` holds what the last attempt left in it either way. A reply taken after failed
// attempts is followed by DropLateReplies.
template <typename Accept>
bool RunTwoCounterRule(Channel& channel, const AppRequest& request, uint8_t* reply,
                       uint32_t replyLength, Accept accept) {
    Device& device = channel.device;
    RetryBudget budget(channel.progress);
    std::memset(reply, 0, replyLength);
    uint32_t unanswered = 0;
    while (budget.AttemptsLeft()) {
        if (!WriteRequest(device, request)) {
            budget.WriteFailed();
            continue;
        }
        budget.BeforeRead();
        const uint32_t got = ReadReply(device, reply, replyLength);
        if (got == replyLength && ReplyPassesLrc(reply, replyLength) && accept(reply)) {
            if (budget.badReplies() != 0) {
                DropLateReplies(device, replyLength, unanswered);
            }
            return true;
        }
        unanswered += got < replyLength ? 1 : 0;
        budget.BadReply();
    }
    return false;
}

// One line of a command's error-reply table; -1 matches any class or state. Rows are tried in
// order, the first match gives the code.
struct ErrorReplyRow {
    int16_t errorClass;
    int16_t state;
    uint8_t code;
};

// Final result decision from reply bytes 4, 5 and 6 as the last attempt left them: an error reply
// (byte 4 NAK) is mapped by the table, anything else gives kNoAcceptableReply.
uint8_t FinalResultDecision(const uint8_t* reply, const ErrorReplyRow* rows, size_t rowCount);

template <size_t N>
uint8_t FinalResultDecision(const uint8_t* reply, const ErrorReplyRow (&rows)[N]) {
    return FinalResultDecision(reply, rows, N);
}

}  // namespace fwburn

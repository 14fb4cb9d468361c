// The boot-mode retry rule: the two counters of application mode, but raw bytes, no LRC, and
// errCounter back to 0 on acceptance.
#pragma once

#include <cstdint>

#include "protocol/boot_words.hpp"
#include "protocol/channel.hpp"
#include "protocol/retry.hpp"

namespace fwburn {

// One exchange: `request` is written (after dropping unread input) until a complete reply of
// `replyLength` bytes passes `accept`, or a counter reaches its sixth failure. A reply taken after
// failed attempts is followed by DropLateReplies.
template <typename Accept>
bool RunBootExchange(Channel& channel, const uint8_t* request, uint32_t requestLength,
                     uint8_t* reply, uint32_t replyLength, Accept accept) {
    Device& device = channel.device;
    RetryBudget budget(channel.progress);
    uint32_t unanswered = 0;
    while (budget.AttemptsLeft()) {
        if (!WriteRequest(device, request, requestLength)) {
            budget.WriteFailed();
            continue;
        }
        budget.BeforeRead();
        const uint32_t got = device.Read(reply, replyLength);
        if (got == replyLength && accept(reply)) {
            if (budget.badReplies() != 0) {
                DropLateReplies(device, replyLength, unanswered);
            }
            channel.progress.ClearErrCounter();
            return true;
        }
        unanswered += got < replyLength ? 1 : 0;
        channel.replyOutstanding = channel.replyOutstanding || got < replyLength;
        budget.BadReply();
    }
    return false;
}

// The common case: a one-byte reply that must be ACK.
bool RunAckExchange(Channel& channel, const uint8_t* request, uint32_t requestLength);

}  // namespace fwburn

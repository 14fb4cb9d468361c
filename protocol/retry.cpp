#include "protocol/retry.hpp"

#include "protocol/line_setup.hpp"
#include "protocol/requests.hpp"

namespace fwburn {

void RetryBudget::WriteFailed() {
    ++writeFailures_;
    progress_.Failed(writeFailures_);
}

void RetryBudget::BeforeRead() const {
    progress_.ShowAttempt(badReplies_);
}

void RetryBudget::BadReply() {
    ++badReplies_;
    progress_.Failed(badReplies_);
}

bool WriteRequest(Device& device, const uint8_t* bytes, uint32_t length, uint32_t* dropped) {
    const uint32_t n = device.DiscardInput();
    if (dropped != nullptr) {
        *dropped = n;
    }
    return device.Write(bytes, length) == length;
}

uint32_t DropLateReplies(Device& device, uint32_t replyLength, uint32_t unanswered) {
    // No more than five attempts go unanswered before one is taken, of the longest reply.
    uint8_t late[kMaxFailuresPerCounter * kLongReplyLength];
    uint32_t want = replyLength * unanswered;
    want = want < sizeof late ? want : static_cast<uint32_t>(sizeof late);
    uint32_t dropped = want == 0 ? 0 : device.Read(late, want);
    // Whatever else the controller had waiting follows back to back: replies to requests whose
    // attempts read someone else's bytes, to the wake frames. Until the line is quiet, and no
    // longer than one read time-out.
    device.SetTimeouts(
        Timeouts{kMaxDword, 0, kQuietLineMs, 0, kCommandTimeouts.writeTotalConstant});
    for (uint32_t round = 0; round < kCommandTimeouts.readTotalConstant / kQuietLineMs; ++round) {
        const uint32_t n = device.Read(late, sizeof late);
        if (n == 0) {
            break;
        }
        dropped += n;
    }
    device.SetTimeouts(kCommandTimeouts);
    return dropped;
}

}  // namespace fwburn

#include "protocol/retry.hpp"

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
    uint8_t late[6 * 19];
    uint32_t want = replyLength * unanswered;
    want = want < sizeof late ? want : static_cast<uint32_t>(sizeof late);
    return want == 0 ? 0 : device.Read(late, want);
}

}  // namespace fwburn

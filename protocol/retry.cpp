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

}  // namespace fwburn

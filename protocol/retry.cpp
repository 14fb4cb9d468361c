#include "protocol/retry.hpp"

#include "catalogue/job_state.hpp"

namespace fwburn {

void RetryBudget::WriteFailed() {
    ++writeFailures_;
    errCounter = writeFailures_;
    totalErrCounter += 1;
}

void RetryBudget::BeforeRead() const {
    errCounter = badReplies_;
}

void RetryBudget::BadReply() {
    ++badReplies_;
    errCounter = badReplies_;
    totalErrCounter += 1;
}

bool WriteRequest(Device& device, const uint8_t* bytes, uint32_t length) {
    device.DiscardInput();
    return device.Write(bytes, length) == length;
}

}  // namespace fwburn

// The two retry counters every command keeps per exchange, and how they move the update's
// errCounter and totalErrCounter. Six write failures or six bad replies, whichever comes first,
// end the exchange: at most 11 attempts.
#pragma once

#include <cstdint>

#include "link/device.hpp"
#include "protocol/progress.hpp"

namespace fwburn {

constexpr uint8_t kMaxFailuresPerCounter = 5;  // the 6th failure of either kind ends the exchange

class RetryBudget {
  public:
    explicit RetryBudget(Progress& progress) : progress_(progress) {}

    bool AttemptsLeft() const {
        return writeFailures_ <= kMaxFailuresPerCounter && badReplies_ <= kMaxFailuresPerCounter;
    }
    void WriteFailed();
    void BeforeRead() const;  // shows the retry number of the attempt under way
    void BadReply();

    uint8_t writeFailures() const { return writeFailures_; }
    uint8_t badReplies() const { return badReplies_; }

  private:
    Progress& progress_;
    uint8_t writeFailures_ = 0;
    uint8_t badReplies_ = 0;
};

// Drops unread input, then writes the whole request. A reply that came too late for an earlier
// attempt is thus never taken as the reply to this one. True when every byte was written; the
// count of bytes dropped goes to `dropped` when given.
bool WriteRequest(Device& device, const uint8_t* bytes, uint32_t length,
                  uint32_t* dropped = nullptr);

// Longer than a controller's turn-around plus an adapter's latency timer: the gap between two
// replies it had waiting.
constexpr uint32_t kQuietLineMs = 100;

// After an exchange took a reply following failed attempts (leaves kCommandTimeouts set): the
// controller may yet answer each attempt whose read came back short (`unanswered`), in order,
// right after the reply taken (one stalled with the requests queued answers them back to back;
// an erase step takes its time first). Reads up to that many replies within the read time-out,
// then whatever else comes until the line is quiet for kQuietLineMs, and drops it all, so that the
// next request does not take a stale reply for its own. Returns the count of bytes dropped.
uint32_t DropLateReplies(Device& device, uint32_t replyLength, uint32_t unanswered);

}  // namespace fwburn

// The worker's way to the main thread: the operator's calls and the progress events become
// requests in a queue that the main thread's loop takes, next to its signals, the keyboard and the
// 100 ms ticks. A request that needs an answer blocks the worker until the main thread replies,
// as a modal message box blocks the window's worker.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "ui/console/session/console_operator.hpp"

namespace fwburn::console {

class Mailbox final : public FrontEnd {
  public:
    // `wake` tells the main thread that a request waits (it may be called from any thread).
    explicit Mailbox(std::function<void()> wake) : wake_(std::move(wake)) {}
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    // Worker thread.
    Answer Send(Request request) override;
    void Sleep(int seconds) override;

    // Main thread. The next request, or none. A step acknowledged does not wake the main thread
    // (a worker sending one per block would wake it thousands of times a second): it is taken at
    // the next tick, 100 ms at most, in its order with the others. `progressOnly`: only a
    // progress event, before a signal ends the run, so that the count shown is where the worker
    // got to.
    std::optional<Request> Take(bool progressOnly = false);
    // Whether the worker has come to its end: its timer's stop (its last step before the final
    // message), the final message or its return waits among the requests.
    bool HoldsEnd();
    void Reply(Answer answer);
    // A run torn down with its worker still going: every reply from now on is Cancel, at once.
    void Close();
    // Any thread: the main thread looks at the run again.
    void Wake() {
        if (wake_) {
            wake_();
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable replied_;
    std::deque<Request> queue_;
    std::optional<Answer> reply_;
    bool closed_ = false;
    std::function<void()> wake_;
};

}  // namespace fwburn::console

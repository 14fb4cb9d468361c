// The reconnect question. One controller: its prompt, as the window shows it, with Enter for OK.
// Several: one question lists every controller waiting for its replug, asked once every running
// update waits or a while after the first one did; one Enter answers all of them.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "ui/console/session/console_operator.hpp"
#include "ui/console/session/run.hpp"

namespace fwburn::console {

class Question {
  public:
    using Clock = std::chrono::steady_clock;
    // A question waits this long for the other controllers to reach theirs.
    static constexpr std::chrono::milliseconds kGather{3000};

    // `err` is where it is asked; `several`: the runs share one question; `json`: only events.
    Question(std::FILE* err, bool several, bool json) : err_(err), several_(several), json_(json) {}

    // Enter is awaited.
    bool asking() const { return asking_; }
    // `run` has reached the prompt `r`.
    void Arrived(Run& run, const Request& r);
    // Time to ask several: every running update waits, or the first has waited long enough.
    bool Ready(const std::vector<std::unique_ptr<Run>>& runs) const;
    // Asks it, listing every run waiting; lines of our own fitted to `columns` (0: no limit).
    void Ask(const std::vector<std::unique_ptr<Run>>& runs, int columns);
    // The line typed, or end of input: every run waiting gets it.
    void Answered(const std::vector<std::unique_ptr<Run>>& runs, Answer answer);
    // A signal ends the run: what follows starts on a line of its own.
    void Interrupted();

  private:
    std::FILE* err_;
    bool several_;
    bool json_;
    bool asking_ = false;
    std::optional<Clock::time_point> firstWaiting_;
};

}  // namespace fwburn::console

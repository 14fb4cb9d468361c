// The reconnect question. One controller: its prompt, as the window shows it, with Enter for OK.
// Several: one question lists every controller waiting for its replug, asked once every running
// update waits or a while after the first one did; one Enter answers all of them.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/console/session/console_operator.hpp"
#include "ui/console/session/run.hpp"

namespace fwburn::console {

class Question {
  public:
    using Clock = std::chrono::steady_clock;
    // A question waits this long for the other controllers to reach theirs.
    static constexpr std::chrono::milliseconds kGather{3000};

    // `err` is where it is asked; `several`: the runs share one question; `json`: only events;
    // `columns`, on a terminal, its width, which our own lines keep to.
    Question(std::FILE* err, bool several, bool json, std::function<int()> columns = {})
        : err_(err), several_(several), json_(json), columns_(std::move(columns)) {}

    // Enter is awaited.
    bool asking() const { return asking_; }
    // `run` has reached the prompt `r`.
    void Arrived(Run& run, const Request& r);
    // Time to ask several: every running update waits, or the first has waited long enough.
    bool Ready(const std::vector<std::unique_ptr<Run>>& runs) const;
    // Asks it, listing every run waiting.
    void Ask(const std::vector<std::unique_ptr<Run>>& runs);
    // The line typed, or end of input: every run waiting gets it. `echoed`: the terminal showed
    // its Enter, so what follows starts on a line of its own already.
    void Answered(const std::vector<std::unique_ptr<Run>>& runs, Answer answer, bool echoed);
    // A signal ends the run: what follows starts on a line of its own.
    void Interrupted();
    // Continued after a stop: the shared question, still waiting, is asked again.
    void Resumed();
    // A controller's line is about to be said: the shared question gets off its line, and is
    // asked again after (AskAgain) rather than left above lines that bury it.
    void BreakOff();
    void AskAgain();

  private:
    // A line of our own fitted to the terminal; the window's words wrapped, never cut.
    std::string Fit(const std::string& line) const;
    std::string Wrap(const std::string& line) const;

    std::FILE* err_;
    bool several_;
    bool json_;
    std::function<int()> columns_;
    bool asking_ = false;
    bool lineOpen_ = false;  // the shared question's line ends where the cursor is
    std::optional<Clock::time_point> firstWaiting_;
};

}  // namespace fwburn::console

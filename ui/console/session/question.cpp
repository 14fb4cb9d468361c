#include "ui/console/session/question.hpp"

#include <algorithm>
#include <string>

#include "ui/console/show/progress.hpp"
#include "ui/console/show/shown_text.hpp"

namespace fwburn::console {

namespace {

// The one question's last line; its answer goes to every controller listed.
constexpr char kQuestion[] = "Press Enter to continue with all of them (n and Enter cancels all): ";

}  // namespace

void Question::Arrived(Run& run, const Request& r) {
    run.waiting = true;
    run.caption = r.caption;
    run.text = r.text;
    if (!several_) {
        asking_ = true;
        run.screen->Prompt(r.caption.c_str(), r.text.c_str(), true, r.number);
        return;
    }
    run.screen->PromptEvent(r.caption.c_str(), r.text.c_str(), true, r.number);
    if (!firstWaiting_) {
        firstWaiting_ = Clock::now();
    }
    if (asking_ && !json_) {
        // The question on screen covers it too: said on a line of its own.
        std::fprintf(err_, "%s%s", lineOpen_ ? "\n" : "",
                     Fit(Shown(run.target.Identity()) + " waits for this Enter too: ").c_str());
        std::fflush(err_);
        lineOpen_ = true;
    }
}

bool Question::Ready(const std::vector<std::unique_ptr<Run>>& runs) const {
    if (!several_ || asking_ || !firstWaiting_) {
        return false;
    }
    const bool anyWaiting =
        std::any_of(runs.begin(), runs.end(), [](const auto& run) { return run->waiting; });
    const bool everyone = std::all_of(runs.begin(), runs.end(),
                                      [](const auto& run) { return run->waiting || run->ended(); });
    return anyWaiting && (everyone || Clock::now() >= *firstWaiting_ + kGather);
}

std::string Question::Fit(const std::string& line) const {
    const int columns = columns_ ? columns_() : 0;
    return columns > 0 ? FitLine(line, columns) : line;
}

std::string Question::Wrap(const std::string& line) const {
    const int columns = columns_ ? columns_() : 0;
    return columns > 0 ? WrapLine(line, columns) : line;
}

void Question::Ask(const std::vector<std::unique_ptr<Run>>& runs) {
    std::vector<Run*> waiting;
    for (const auto& run : runs) {
        if (run->waiting) {
            waiting.push_back(run.get());
        }
    }
    asking_ = true;
    std::string text =
        Wrap(Shown(waiting.front()->caption + ": " + waiting.front()->text)) + "\nWaiting:";
    for (Run* run : waiting) {
        const std::string line = Shown("  " + run->target.Identity() +
                                       (run->target.pinned() ? " (" + run->target.port + ")" : ""));
        text += "\n" + Fit(line);
    }
    std::fprintf(err_, "%s\n%s", text.c_str(), Fit(kQuestion).c_str());
    std::fflush(err_);
    lineOpen_ = true;
}

void Question::Answered(const std::vector<std::unique_ptr<Run>>& runs, Answer answer, bool echoed) {
    if (several_ && asking_ && !echoed && lineOpen_) {
        std::fputc('\n', err_);  // off the question's line, once for all of them
    }
    asking_ = false;
    lineOpen_ = false;
    firstWaiting_.reset();
    for (const auto& run : runs) {
        if (run->waiting) {
            run->waiting = false;
            run->screen->PromptAnswered(answer, echoed);
            run->mailbox.Reply(answer);
        }
    }
    std::fflush(err_);
}

void Question::Resumed() {
    if (asking_ && several_) {
        std::fputs(Fit(kQuestion).c_str(), err_);
        std::fflush(err_);
        lineOpen_ = true;
    }
}

void Question::BreakOff() {
    if (asking_ && several_ && lineOpen_) {
        std::fputc('\n', err_);
        std::fflush(err_);
        lineOpen_ = false;
    }
}

void Question::AskAgain() {
    if (!lineOpen_) {
        Resumed();
    }
}

void Question::Interrupted() {
    BreakOff();  // what follows starts on a line of its own
    asking_ = false;
}

}  // namespace fwburn::console

#include "ui/console/show/screen.hpp"

#include "burn/messages.hpp"
#include "ui/console/session/console_operator.hpp"
#include "ui/console/show/json_line.hpp"
#include "ui/console/show/shown_text.hpp"

namespace fwburn::console {

namespace {

// The last line of one controller's prompt, the cursor left after it.
constexpr char kPressEnter[] = "Press Enter to continue (n and Enter cancels): ";

}  // namespace

std::unique_ptr<Screen> Screen::Make(ScreenMode mode, std::FILE* out, std::FILE* err,
                                     std::function<int()> columns, bool several) {
    if (mode == ScreenMode::kJson) {
        return MakeJsonScreen(out, err);
    }
    if (mode == ScreenMode::kTerminal && !several) {
        return MakeTerminalScreen(
            out, err, columns ? std::move(columns) : [] { return 80; });
    }
    return MakePlainScreen(out, err, mode == ScreenMode::kPlain,
                           mode == ScreenMode::kTerminal ? std::move(columns) : nullptr);
}

void AddBuildFields(Json& line, const RunInfo& info) {
    line["program"] = info.program;
    line["version"] = info.version;
    line["model"] = info.model;
    line["image"] = info.imageName;
    line["imageLength"] = info.imageLength;
    line["sha256"] = info.imageSha256;
    line["standIn"] = info.standIn;
    line["notice"] = info.standIn ? Json(std::string(kStandInCaption)) : Json();
}

void Screen::Tag(const std::string& prefix,
                 std::vector<std::pair<std::string, std::string>> fields) {
    prefix_ = Shown(prefix);
    tagFields_ = std::move(fields);
}

void Screen::ErrorLine(const std::string& text) {
    BreakStatusLine();
    std::fprintf(err_, "%s%s\n", prefix_.c_str(), text.c_str());
    std::fflush(err_);
}

void Screen::OutLine(const std::string& text) {
    BreakStatusLine();
    std::fprintf(PeopleOut(), "%s%s\n", prefix_.c_str(), text.c_str());
    std::fflush(PeopleOut());
}

void Screen::Start(const RunInfo& info) {
    program_ = info.program;
    row_ = info.row;
    totals_ = info.totals;
    Json line = {{"event", "start"}};
    AddBuildFields(line, info);
    line["eraseSteps"] = info.totals.eraseSteps;
    line["blocks"] = info.totals.blocks;
    line["blockSize"] = info.totals.blockSize;
    if (tagFields_.empty()) {  // else the tag carries the port
        line["port"] = info.port.empty() ? Json() : Json(info.port);
    }
    Inform(line, info.program + " " + info.version + ": " + info.model + ", image " +
                     info.imageName + " (" + std::to_string(info.imageLength) + " bytes)" +
                     (info.standIn ? std::string("; ") + kStandInCaption : std::string()));
}

void Screen::Opened(const std::string& path, bool reopen) {
    Inform({{"event", "open"}, {"path", path}, {"reopen", reopen}},
           (reopen ? "Port reopened: " : "Port: ") + Shown(path));
}

void Screen::OpenFailed(const std::string& reason, bool reopen) {
    Event({{"event", "open-failed"}, {"reason", reason}, {"reopen", reopen}});
    OwnErrorLine(program_ + ": " + (reopen ? "reopening failed: " : "") + Shown(reason));
}

void Screen::Waiting(int seconds) {
    Inform({{"event", "wait"}, {"seconds", seconds}},
           "Waiting " + std::to_string(seconds) + " s for the PLC to restart");
}

void Screen::PromptEvent(const char* caption, const char* text, bool asking, int accepted) {
    Event({{"event", "prompt"},
           {"caption", caption},
           {"text", text},
           {"answer", asking ? "awaiting-enter" : "auto"},
           {"accepted", accepted}});
}

void Screen::Prompt(const char* caption, const char* text, bool asking, int accepted) {
    PromptEvent(caption, text, asking, accepted);
    const std::string shown = Shown(std::string(caption) + ": " + text);
    if (!asking) {
        ErrorLine(Wrap(shown + " [--yes]"));
        return;
    }
    BreakStatusLine();
    asking_ = true;
    Asking(true);
    std::fprintf(err_, "%s\n%s", Wrap(shown).c_str(), Fit(kPressEnter).c_str());
    std::fflush(err_);
}

void Screen::Resumed() {
    if (asking_) {
        std::fputs(Fit(kPressEnter).c_str(), err_);
        std::fflush(err_);
    }
}

void Screen::PromptAnswered(Answer answer, bool echoed) {
    const bool asked = asking_;
    asking_ = false;
    Asking(false);
    Event({{"event", "prompt-answer"}, {"answer", answer == Answer::Ok ? "ok" : "cancel"}});
    // A terminal that echoed Enter is on a new line; at end of input, or with input from a pipe
    // or a file, it is not.
    if (asked && !echoed) {
        std::fputc('\n', err_);
        std::fflush(err_);
    }
}

void Screen::GaveUp(int accepted) {
    Event({{"event", "gave-up"}, {"accepted", accepted}});
    OwnErrorLine(program_ + ": the PLC stayed in application mode after " +
                 std::to_string(accepted) +
                 " accepted update requests; giving up (nothing was erased)");
}

void Screen::Final(const UpdateOutcome& outcome, ExitCode code, double elapsed) {
    Event({{"event", "outcome"},
           {"caption", outcome.caption},
           {"text", outcome.text},
           {"exitCode", static_cast<int>(code)},
           {"result", ResultName(code)},
           {"erased", outcome.erased},
           {"surplusBytes", outcome.surplusBytes},
           {"elapsed", Fixed(elapsed)}},
          true);
    BreakStatusLine(true);  // the last status line stays, as the panel keeps its figures
    const std::string shown = Wrap(Shown(std::string(outcome.caption) + ": " + outcome.text));
    if (code == kExitSuccess) {
        OutLine(shown);
    } else {
        ErrorLine(shown);
    }
    Ended(code, elapsed);
}

void Screen::Cancelled(double elapsed, bool announced) {
    Event({{"event", "outcome"},
           {"caption", nullptr},
           {"text", nullptr},
           {"exitCode", static_cast<int>(kExitCancelled)},
           {"result", ResultName(kExitCancelled)},
           {"erased", false},
           {"elapsed", Fixed(elapsed)}},
          true);
    if (!announced) {
        OwnErrorLine(program_ + ": cancelled at the reconnect step; nothing was erased");
    }
    Ended(kExitCancelled, elapsed);
}

void Screen::Note(const std::string& text) {
    OwnErrorLine(program_ + ": " + Shown(text));
}

void Screen::Interrupted(const char* signalName, int exitCode, Phase phase, double elapsed) {
    if (asking_) {
        std::fputc('\n', err_);  // off the question's line
        asking_ = false;
    }
    BreakStatusLine(true);
    Restore();
    Event({{"event", "outcome"},
           {"caption", nullptr},
           {"text", nullptr},
           {"exitCode", exitCode},
           {"result", ResultName(kExitInterrupted)},
           {"signal", signalName},
           {"phase", PhaseName(phase)},
           {"elapsed", Fixed(elapsed)}},
          true);
    std::string text = program_ + ": interrupted by " + signalName + "; the port is released";
    if (phase != Phase::Checking) {
        text += "; the erase had begun: the PLC needs a new update";
    }
    OwnErrorLine(text);
    Ended(kExitInterrupted, elapsed);
}

bool Present(Screen& screen, ProgressTracker& tracker, const Request& r, double now) {
    switch (r.kind) {
        case Request::kPhase: {
            const ProgressView finished = tracker.At(now);
            if (tracker.PhaseStarted(r.phase, r.total, now)) {
                screen.PhaseStarted(finished, tracker.At(now), now);
            }
            return true;
        }
        case Request::kAdvanced:
            tracker.Advanced(r.done, r.total, r.percent);
            screen.Advanced(tracker.At(now), now);
            return true;
        case Request::kRetried:
            tracker.Counters(r.errCounter, r.totalErrCounter);
            screen.Retried(tracker.At(now), now);
            return true;
        case Request::kFinal:
            screen.Settle(tracker.At(now), now);
            screen.Diagnose(r.outcome, r.denied, r.openFailure, r.hungUp);
            screen.Final(r.outcome, ExitCodeFor(r.outcome.kind), now);
            return true;
        default:
            return false;
    }
}

}  // namespace fwburn::console

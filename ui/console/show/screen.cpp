#include "ui/console/show/screen.hpp"

#include "burn/messages.hpp"
#include "ui/console/session/console_operator.hpp"
#include "ui/console/show/json_line.hpp"
#include "ui/console/show/shown_text.hpp"
#include "ui/console/show/wording.hpp"

namespace fwburn::console {

namespace {

// The last line of one controller's prompt, the cursor left after it.
constexpr char kPressEnter[] = "Press Enter to continue (n and Enter cancels): ";

}  // namespace

std::unique_ptr<Screen> Screen::Make(ScreenMode mode, std::FILE* out, std::FILE* err,
                                     std::function<int()> columns, bool several) {
    if (mode == ScreenMode::kTerminal && !several) {
        return MakeTerminalScreen(
            out, err, columns ? std::move(columns) : [] { return 80; });
    }
    // Several controllers on a terminal: whole lines fitted to its width, without the progress
    // lines (each controller's line below them shows its progress and retries).
    const bool terminal = mode == ScreenMode::kTerminal;
    return std::make_unique<Screen>(out, err, terminal ? std::move(columns) : nullptr,
                                    mode == ScreenMode::kJson, !terminal);
}

Screen::Screen(std::FILE* out, std::FILE* err, std::function<int()> columns, bool json,
               bool progressLines)
    : out_(out),
      err_(err),
      columns_(std::move(columns)),
      json_(json),
      progressLines_(progressLines),
      outcomeFields_(std::make_unique<Json>(Json::object())) {}

Screen::~Screen() = default;

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

void Screen::AddOutcomeField(const char* key, const Json& value) {
    (*outcomeFields_)[key] = value;
}

// For automation stdout carries one JSON object per line and nothing else.
void Screen::Event(const Json& event, bool outcome) {
    if (!json_) {
        return;
    }
    Json line = event;
    for (const auto& [key, value] : tagFields_) {
        line[key] = value;
    }
    if (outcome) {
        line.update(*outcomeFields_);
    }
    std::fputs(JsonText(line).c_str(), out_);
    std::fflush(out_);
}

void Screen::Inform(const Json& event, const std::string& line) {
    if (json_) {
        Event(event);
    } else if (!line.empty()) {
        OutLine(Fit(line));
    }
}

void Screen::PhaseStarted(const ProgressView&, const ProgressView& view, double elapsed) {
    if (!progressLines_) {
        return;
    }
    std::string line;  // a log says nothing of the checks beginning again
    if (view.phase == Phase::Erasing) {
        line = "Erasing: " + std::to_string(view.total) + " steps";
    } else if (view.phase == Phase::Programming) {
        line = "Programming: " + std::to_string(view.total) + " blocks of " +
               std::to_string(totals_.blockSize) + " bytes";
    }
    Inform({{"event", "phase"},
            {"phase", PhaseName(view.phase)},
            {"total", view.total},
            {"unit", view.unit()},
            {"elapsed", Fixed(elapsed)}},
           line);
    lastStep_ = -1;
    Advanced(view, elapsed);
}

// The worker advances only within the erase and the transfer: the checks count nothing.
void Screen::Advanced(const ProgressView& view, double elapsed) {
    const int step = json_ ? view.percent : view.percent / 10;
    if (progressLines_ && view.phase != Phase::Checking && step != lastStep_) {
        lastStep_ = step;
        Progress(view, elapsed);
    }
}

void Screen::Retried(const ProgressView& view, double elapsed) {
    if (progressLines_) {
        Inform({{"event", "retry"},
                {"phase", PhaseName(view.phase)},
                {"errCounter", view.errCounter},
                {"totalErrCounter", view.totalErrCounter},
                {"elapsed", Fixed(elapsed)}},
               "Retry: " + std::to_string(view.errCounter) + " in this command, " +
                   std::to_string(view.totalErrCounter) + " in all");
    }
}

void Screen::Settle(const ProgressView& view, double elapsed) {
    if (progressLines_ && view.phase != Phase::Checking && view.done != lastDone_) {
        Progress(view, elapsed);
    }
}

void Screen::Progress(const ProgressView& view, double elapsed) {
    lastDone_ = view.done;
    Inform({{"event", "progress"},
            {"phase", PhaseName(view.phase)},
            {"percent", view.percent},
            {"done", view.done},
            {"total", view.total},
            {"unit", view.unit()},
            {"bytesPerSecond", Fixed(view.bytesPerSecond)},
            {"etaSeconds", Fixed(view.etaSeconds)},
            {"elapsed", Fixed(elapsed)}},
           PlainLine(view));
}

std::string Screen::Prefix() const {
    const size_t half = columns_ ? static_cast<size_t>(std::max(columns_() / 2, 0)) : 0;
    return half > 0 && prefix_.size() > half ? CutName(prefix_, half) : prefix_;
}

void Screen::ErrorLine(const std::string& text) {
    if (beforeLine_) {
        beforeLine_();
    }
    BreakStatusLine();
    std::fprintf(err_, "%s%s\n", Prefix().c_str(), text.c_str());
    std::fflush(err_);
}

void Screen::OutLine(const std::string& text) {
    if (beforeLine_) {
        beforeLine_();
    }
    BreakStatusLine();
    std::fprintf(PeopleOut(), "%s%s\n", Prefix().c_str(), text.c_str());
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
    OwnErrorLine(program_ + ": " + GaveUpText(accepted));
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

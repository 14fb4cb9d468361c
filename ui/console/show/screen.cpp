#include "ui/console/show/screen.hpp"

#include "burn/messages.hpp"
#include "ui/console/session/console_operator.hpp"
#include "ui/console/show/json_line.hpp"
#include "ui/console/show/shown_text.hpp"

namespace fwburn::console {

std::unique_ptr<Screen> Screen::Make(ScreenMode mode, std::FILE* out, std::FILE* err, int columns) {
    switch (mode) {
        case ScreenMode::kTerminal:
            return MakeTerminalScreen(out, err, columns);
        case ScreenMode::kJson:
            return MakeJsonScreen(out, err);
        case ScreenMode::kPlain:
            break;
    }
    return MakePlainScreen(out, err);
}

std::unique_ptr<Screen> Screen::Make(ScreenMode mode, std::FILE* out, std::FILE* err,
                                     std::function<int()> columns) {
    if (mode == ScreenMode::kTerminal) {
        return MakeTerminalScreen(out, err, std::move(columns));
    }
    return Make(mode, out, err);
}

void AddBuildFields(JsonLine& line, const RunInfo& info) {
    line.Add("program", info.program)
        .Add("version", info.version)
        .Add("model", info.model)
        .Add("image", info.imageName)
        .Add("imageLength", info.imageLength)
        .Add("sha256", info.imageSha256)
        .Add("standIn", info.standIn);
    if (info.standIn) {
        line.Add("notice", kStandInCaption);
    } else {
        line.AddNull("notice");
    }
}

void Screen::Tag(const std::string& prefix,
                 std::vector<std::pair<std::string, std::string>> fields) {
    prefix_ = Shown(prefix);
    tagFields_ = std::move(fields);
}

void Screen::AddTag(JsonLine& line) const {
    for (const auto& [key, value] : tagFields_) {
        line.Add(key.c_str(), value);
    }
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
    JsonLine line;
    line.Add("event", "start");
    AddBuildFields(line, info);
    line.Add("eraseSteps", info.totals.eraseSteps)
        .Add("blocks", info.totals.blocks)
        .Add("blockSize", info.totals.blockSize);
    if (!tagFields_.empty()) {
        // the tag carries the port
    } else if (info.port.empty()) {
        line.AddNull("port");
    } else {
        line.Add("port", info.port);
    }
    Inform(line, info.program + " " + info.version + ": " + info.model + ", image " +
                     info.imageName + " (" + std::to_string(info.imageLength) + " bytes)" +
                     (info.standIn ? std::string("; ") + kStandInCaption : std::string()));
}

void Screen::Opened(const std::string& path, bool reopen) {
    JsonLine line;
    line.Add("event", "open").Add("path", path).Add("reopen", reopen);
    Inform(line, (reopen ? "Port reopened: " : "Port: ") + Shown(path));
}

void Screen::OpenFailed(const std::string& reason, bool reopen) {
    JsonLine line;
    Event(line.Add("event", "open-failed").Add("reason", reason).Add("reopen", reopen));
    OwnErrorLine(program_ + ": " + (reopen ? "reopening failed: " : "") + Shown(reason));
}

void Screen::Waiting(int seconds) {
    JsonLine line;
    line.Add("event", "wait").Add("seconds", seconds);
    Inform(line, "Waiting " + std::to_string(seconds) + " s for the PLC to restart");
}

void Screen::PromptEvent(const char* caption, const char* text, bool asking, int accepted) {
    JsonLine line;
    Event(line.Add("event", "prompt")
              .Add("caption", caption)
              .Add("text", text)
              .Add("answer", asking ? "awaiting-enter" : "auto")
              .Add("accepted", accepted));
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
    std::fprintf(err_, "%s\n%s", Wrap(shown).c_str(),
                 Fit("Press Enter to continue (n and Enter cancels): ").c_str());
    std::fflush(err_);
}

void Screen::PromptAnswered(Answer answer) {
    asking_ = false;
    Asking(false);
    JsonLine line;
    Event(line.Add("event", "prompt-answer").Add("answer", answer == Answer::Ok ? "ok" : "cancel"));
    // After Enter the terminal has moved to a new line; at end of input it has not.
    if (answer == Answer::Cancel) {
        std::fputc('\n', err_);
        std::fflush(err_);
    }
}

void Screen::GaveUp(int accepted) {
    JsonLine line;
    Event(line.Add("event", "gave-up").Add("accepted", accepted));
    OwnErrorLine(program_ + ": the PLC stayed in application mode after " +
                 std::to_string(accepted) +
                 " accepted update requests; giving up (nothing was erased)");
}

void Screen::Final(const UpdateOutcome& outcome, ExitCode code, double elapsed) {
    JsonLine line;
    Event(line.Add("event", "outcome")
              .Add("caption", outcome.caption)
              .Add("text", outcome.text)
              .Add("exitCode", static_cast<int>(code))
              .Add("result", ResultName(code))
              .Add("erased", outcome.erased)
              .Add("surplusBytes", outcome.surplusBytes)
              .AddFixed("elapsed", elapsed),
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
    JsonLine line;
    Event(line.Add("event", "outcome")
              .AddNull("caption")
              .AddNull("text")
              .Add("exitCode", static_cast<int>(kExitCancelled))
              .Add("result", ResultName(kExitCancelled))
              .Add("erased", false)
              .AddFixed("elapsed", elapsed),
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
    JsonLine line;
    Event(line.Add("event", "outcome")
              .AddNull("caption")
              .AddNull("text")
              .Add("exitCode", exitCode)
              .Add("result", ResultName(kExitInterrupted))
              .Add("signal", signalName)
              .Add("phase", PhaseName(phase))
              .AddFixed("elapsed", elapsed),
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
            screen.Diagnose(r.outcome, r.denied, r.openFailure);
            screen.Final(r.outcome, ExitCodeFor(r.outcome.kind), now);
            return true;
        default:
            return false;
    }
}

}  // namespace fwburn::console

#include "ui/console/screen.hpp"

#include "burn/messages.hpp"
#include "ui/console/json_line.hpp"

namespace fwburn::console {

namespace {

constexpr char kClearToEnd[] = "\033[K";
constexpr char kHideCursor[] = "\033[?25l";
constexpr char kShowCursor[] = "\033[?25h";

std::string PhaseStartLine(Phase phase, const ProgressView& view, const PhaseTotals& totals) {
    switch (phase) {
        case Phase::kErasing:
            return "Erasing: " + std::to_string(view.total) + " steps";
        case Phase::kProgramming:
            return "Programming: " + std::to_string(view.total) + " blocks of " +
                   std::to_string(totals.blockSize) + " bytes";
        case Phase::kChecking:
            break;
    }
    return "Checking the PLC";
}

JsonLine ProgressJson(const ProgressView& view, double elapsed) {
    JsonLine line;
    line.Add("event", "progress")
        .Add("phase", PhaseName(view.phase))
        .Add("percent", view.percent)
        .Add("done", view.done)
        .Add("total", view.total)
        .Add("unit", view.unit())
        .AddFixed("bytesPerSecond", view.bytesPerSecond)
        .AddFixed("etaSeconds", view.etaSeconds)
        .AddFixed("elapsed", elapsed);
    return line;
}

}  // namespace

Screen::Screen(ScreenMode mode, std::FILE* out, std::FILE* err, int columns)
    : mode_(mode), out_(out), err_(err), columns_(columns) {}

void Screen::Json(const std::string& line) {
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
}

void Screen::BreakStatusLine() {
    if (mode_ == ScreenMode::kTerminal && !status_.empty()) {
        std::fprintf(out_, "\r%s", kClearToEnd);
        std::fflush(out_);
        status_.clear();
    }
}

void Screen::ErrorLine(const std::string& text) {
    BreakStatusLine();
    std::fprintf(err_, "%s\n", text.c_str());
    std::fflush(err_);
}

void Screen::OutLine(const std::string& text) {
    BreakStatusLine();
    // JSON mode keeps stdout for JSON: its human lines go to stderr.
    std::FILE* to = mode_ == ScreenMode::kJson ? err_ : out_;
    std::fprintf(to, "%s\n", text.c_str());
    std::fflush(to);
}

void Screen::DrawStatus(const ProgressView& view) {
    const std::string line = TerminalLine(view, columns_);
    if (line == status_) {
        return;
    }
    if (!cursorHidden_) {
        std::fputs(kHideCursor, out_);
        cursorHidden_ = true;
    }
    std::fprintf(out_, "\r%s%s", line.c_str(), kClearToEnd);
    std::fflush(out_);
    status_ = line;
}

void Screen::EndPhaseLine(const ProgressView& view) {
    if (view.phase == Phase::kChecking) {
        BreakStatusLine();
        return;
    }
    DrawStatus(view);
    std::fputc('\n', out_);
    std::fflush(out_);
    status_.clear();
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

void Screen::Start(const RunInfo& info) {
    program_ = info.program;
    totals_ = info.totals;
    if (mode_ == ScreenMode::kJson) {
        JsonLine line;
        line.Add("event", "start");
        AddBuildFields(line, info);
        line.Add("eraseSteps", info.totals.eraseSteps)
            .Add("blocks", info.totals.blocks)
            .Add("blockSize", info.totals.blockSize);
        if (info.port.empty()) {
            line.AddNull("port");
        } else {
            line.Add("port", info.port);
        }
        Json(line.Text());
        return;
    }
    OutLine(info.program + " " + info.version + ": " + info.model + ", image " + info.imageName +
            " (" + std::to_string(info.imageLength) + " bytes)" +
            (info.standIn ? std::string("; ") + kStandInCaption : std::string()));
}

void Screen::Opened(const std::string& path, bool reopen) {
    if (mode_ == ScreenMode::kJson) {
        Json(JsonLine().Add("event", "open").Add("path", path).Add("reopen", reopen).Text());
        return;
    }
    OutLine((reopen ? "Port reopened: " : "Port: ") + path);
}

void Screen::OpenFailed(const std::string& reason, bool reopen) {
    if (mode_ == ScreenMode::kJson) {
        Json(JsonLine()
                 .Add("event", "open-failed")
                 .Add("reason", reason)
                 .Add("reopen", reopen)
                 .Text());
    }
    ErrorLine(program_ + ": " + (reopen ? "reopening failed: " : "") + reason);
}

void Screen::Progress(const ProgressView& view, const ProgressTracker::Changes& changes,
                      const ProgressView* finished, double elapsed) {
    switch (mode_) {
        case ScreenMode::kJson:
            if (changes.phase && finished != nullptr && finished->phase != Phase::kChecking &&
                finished->percent == 100 && lastJsonPercent_ < 100) {
                Json(ProgressJson(*finished, elapsed).Text());
            }
            if (changes.phase) {
                Json(JsonLine()
                         .Add("event", "phase")
                         .Add("phase", PhaseName(view.phase))
                         .Add("total", view.total)
                         .Add("unit", view.unit())
                         .AddFixed("elapsed", elapsed)
                         .Text());
            }
            if (changes.phase || changes.step) {
                if (view.phase != Phase::kChecking) {
                    Json(ProgressJson(view, elapsed).Text());
                    lastJsonPercent_ = view.percent;
                }
            }
            if (changes.retry) {
                Json(JsonLine()
                         .Add("event", "retry")
                         .Add("phase", PhaseName(view.phase))
                         .Add("errCounter", view.errCounter)
                         .Add("totalErrCounter", view.totalErrCounter)
                         .AddFixed("elapsed", elapsed)
                         .Text());
            }
            return;
        case ScreenMode::kPlain:
            if (changes.phase) {
                if (finished != nullptr && finished->phase != Phase::kChecking &&
                    lastPlainDecile_ < 10 && finished->percent == 100) {
                    OutLine(PlainLine(*finished));
                }
                OutLine(PhaseStartLine(view.phase, view, totals_));
                lastPlainDecile_ = -1;
            }
            // A line per tenth: a log of a 2 MB transfer stays readable.
            if (view.phase != Phase::kChecking && view.percent / 10 != lastPlainDecile_) {
                lastPlainDecile_ = view.percent / 10;
                OutLine(PlainLine(view));
            }
            if (changes.retry) {
                OutLine("Retry: " + std::to_string(view.errCounter) + " in this command, " +
                        std::to_string(view.totalErrCounter) + " in all");
            }
            return;
        case ScreenMode::kTerminal:
            if (asking_) {
                return;
            }
            if (changes.phase && finished != nullptr) {
                EndPhaseLine(*finished);
            }
            DrawStatus(view);
            return;
    }
}

void Screen::Waiting(int seconds) {
    if (mode_ == ScreenMode::kJson) {
        Json(JsonLine().Add("event", "wait").Add("seconds", seconds).Text());
        return;
    }
    OutLine("Waiting " + std::to_string(seconds) + " s for the PLC to restart");
}

void Screen::Prompt(const char* caption, const char* text, bool asking, int accepted) {
    if (mode_ == ScreenMode::kJson) {
        Json(JsonLine()
                 .Add("event", "prompt")
                 .Add("caption", caption)
                 .Add("text", text)
                 .Add("answer", asking ? "awaiting-enter" : "auto")
                 .Add("accepted", accepted)
                 .Text());
    }
    const std::string shown = std::string(caption) + ": " + text;
    if (!asking) {
        ErrorLine(shown + " [--yes]");
        return;
    }
    BreakStatusLine();
    if (cursorHidden_) {
        std::fputs(kShowCursor, out_);
        std::fflush(out_);
        cursorHidden_ = false;
    }
    asking_ = true;
    std::fprintf(err_, "%s\nPress Enter to continue (end of input cancels): ", shown.c_str());
    std::fflush(err_);
}

void Screen::PromptAnswered(Answer answer) {
    asking_ = false;
    if (mode_ == ScreenMode::kJson) {
        Json(JsonLine()
                 .Add("event", "prompt-answer")
                 .Add("answer", answer == Answer::Ok ? "ok" : "cancel")
                 .Text());
    }
    // After Enter the terminal has moved to a new line; at end of input it has not.
    if (answer == Answer::Cancel) {
        std::fputc('\n', err_);
        std::fflush(err_);
    }
}

void Screen::GaveUp(int accepted) {
    if (mode_ == ScreenMode::kJson) {
        Json(JsonLine().Add("event", "gave-up").Add("accepted", accepted).Text());
    }
    ErrorLine(program_ + ": the PLC stayed in application mode after " + std::to_string(accepted) +
              " accepted update requests; giving up (nothing was erased)");
}

void Screen::Final(const char* caption, const char* text, ExitCode code, double elapsed) {
    if (mode_ == ScreenMode::kJson) {
        JsonLine line;
        line.Add("event", "outcome")
            .Add("caption", caption)
            .Add("text", text)
            .Add("exitCode", static_cast<int>(code))
            .Add("result", ResultName(code))
            .AddFixed("elapsed", elapsed);
        Json(OutcomeText(line));
    }
    if (mode_ == ScreenMode::kTerminal && !status_.empty()) {
        std::fputc('\n', out_);  // the last status line stays, as the panel keeps its figures
        status_.clear();
    }
    const std::string shown = std::string(caption) + ": " + text;
    if (code == kExitSuccess && mode_ != ScreenMode::kJson) {
        OutLine(shown);
    } else {
        ErrorLine(shown);
    }
}

void Screen::Cancelled(double elapsed, bool announced) {
    if (mode_ == ScreenMode::kJson) {
        JsonLine line;
        line.Add("event", "outcome")
            .AddNull("caption")
            .AddNull("text")
            .Add("exitCode", static_cast<int>(kExitCancelled))
            .Add("result", ResultName(kExitCancelled))
            .AddFixed("elapsed", elapsed);
        Json(OutcomeText(line));
    }
    if (!announced) {
        ErrorLine(program_ + ": cancelled at the reconnect step; nothing was erased");
    }
}

void Screen::Note(const std::string& text) {
    ErrorLine(program_ + ": " + text);
}

void Screen::AddOutcomeField(const char* key, const std::string& value) {
    outcomeFields_.emplace_back(key, value);
}

std::string Screen::OutcomeText(JsonLine& line) const {
    for (const auto& field : outcomeFields_) {
        line.Add(field.first.c_str(), field.second);
    }
    return line.Text();
}

void Screen::Interrupted(const char* signalName, int exitCode, Phase phase, double elapsed) {
    if (asking_) {
        std::fputc('\n', err_);  // off the question's line
        asking_ = false;
    }
    if (mode_ == ScreenMode::kTerminal && !status_.empty()) {
        std::fputc('\n', out_);
        status_.clear();
    }
    Restore();
    if (mode_ == ScreenMode::kJson) {
        JsonLine line;
        line.Add("event", "outcome")
            .AddNull("caption")
            .AddNull("text")
            .Add("exitCode", exitCode)
            .Add("result", ResultName(kExitInterrupted))
            .Add("signal", signalName)
            .Add("phase", PhaseName(phase))
            .AddFixed("elapsed", elapsed);
        Json(OutcomeText(line));
    }
    std::string line = program_ + ": interrupted by " + signalName + "; the port is released";
    if (phase != Phase::kChecking) {
        line += "; the erase had begun: the PLC needs a new update";
    }
    ErrorLine(line);
}

void Screen::Restore() {
    BreakStatusLine();
    if (cursorHidden_) {
        std::fputs(kShowCursor, out_);
        std::fflush(out_);
        cursorHidden_ = false;
    }
}

}  // namespace fwburn::console

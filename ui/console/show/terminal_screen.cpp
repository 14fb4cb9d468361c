// On a terminal: one status line per phase, redrawn in place at every tick; a finished phase
// keeps its last line. The cursor is hidden while the line is redrawn. The lines follow the
// terminal's width as it is resized, and the last one gives the result, coloured unless NO_COLOR
// is set, and the total time.
#include <cstdlib>
#include <functional>
#include <utility>

#include "ui/console/show/screen.hpp"

namespace fwburn::console {

namespace {

constexpr char kClearToEnd[] = "\033[K";
constexpr char kHideCursor[] = "\033[?25l";
constexpr char kShowCursor[] = "\033[?25h";
constexpr char kGreen[] = "\033[32m";
constexpr char kRed[] = "\033[31m";
constexpr char kYellow[] = "\033[33m";
constexpr char kPlainColour[] = "\033[0m";

// Not with NO_COLOR in the environment, whatever its value (an empty one included).
bool ColourWanted() {
    return std::getenv("NO_COLOR") == nullptr;
}

const char* ColourOf(ExitCode code) {
    switch (code) {
        case kExitSuccess:
            return kGreen;
        case kExitCancelled:
        case kExitInterrupted:
            return kYellow;
        default:
            return kRed;
    }
}

class TerminalScreen final : public Screen {
  public:
    TerminalScreen(std::FILE* out, std::FILE* err, std::function<int()> columns)
        : Screen(out, err, std::move(columns), false, false), colour_(ColourWanted()) {}

    void PhaseStarted(const ProgressView& finished, const ProgressView& view, double) override {
        if (asking_) {
            return;
        }
        if (finished.phase == Phase::Checking) {
            BreakStatusLine();
        } else {
            Draw(finished);
            BreakStatusLine(true);
        }
        Draw(view);
    }
    void Tick(const ProgressView& view) override {
        if (!asking_) {
            Draw(view);
        }
    }
    // The last figures before the ending's lines, which must not clear them: they say where the
    // update stopped.
    void Settle(const ProgressView& view, double) override {
        if (!asking_) {
            Draw(view);
            BreakStatusLine(true);
        }
    }
    void Restore() override {
        BreakStatusLine();
        ShowCursor();
    }
    void Suspend() override {
        ShowCursor();
        status_.clear();
    }

  private:
    // Fitted before it is coloured: the colour takes no column.
    void Ended(ExitCode code, double elapsed) override {
        const std::string result = ResultName(code);
        std::string line = Fit(ClosingLine(result, elapsed));
        const size_t at = line.find(result);
        if (colour_ && at != std::string::npos) {
            line.replace(at, result.size(), ColourOf(code) + result + kPlainColour);
        }
        OutLine(line);
    }
    void BreakStatusLine(bool keep = false) override {
        if (!status_.empty()) {
            std::fputs(keep ? "\n" : (std::string("\r") + kClearToEnd).c_str(), out_);
            std::fflush(out_);
            status_.clear();
        }
    }
    void Asking(bool asking) override {
        if (asking) {
            ShowCursor();
        }
    }
    void ShowCursor() {
        if (cursorHidden_) {
            std::fputs(kShowCursor, out_);
            std::fflush(out_);
            cursorHidden_ = false;
        }
    }
    void Draw(const ProgressView& view) {
        const std::string line = TerminalLine(view, columns_());
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

    bool colour_;
    std::string status_;  // the status line on screen, empty when none
    bool cursorHidden_ = false;
};

}  // namespace

std::unique_ptr<Screen> MakeTerminalScreen(std::FILE* out, std::FILE* err,
                                           std::function<int()> columns) {
    return std::make_unique<TerminalScreen>(out, err, std::move(columns));
}

}  // namespace fwburn::console

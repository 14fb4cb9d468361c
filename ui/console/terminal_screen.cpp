// On a terminal: one status line per phase, redrawn in place at every tick; a finished phase
// keeps its last line. The cursor is hidden while the line is redrawn.
#include "ui/console/screen.hpp"

namespace fwburn::console {

namespace {

constexpr char kClearToEnd[] = "\033[K";
constexpr char kHideCursor[] = "\033[?25l";
constexpr char kShowCursor[] = "\033[?25h";

class TerminalScreen final : public Screen {
  public:
    TerminalScreen(std::FILE* out, std::FILE* err, int columns)
        : Screen(out, err), columns_(columns) {}

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
    void Advanced(const ProgressView&, double) override {}
    void Retried(const ProgressView&, double) override {}
    void Tick(const ProgressView& view) override {
        if (!asking_) {
            Draw(view);
        }
    }
    void Settle(const ProgressView& view, double) override { Tick(view); }
    void Restore() override {
        BreakStatusLine();
        ShowCursor();
    }

  private:
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

    int columns_;
    std::string status_;  // the status line on screen, empty when none
    bool cursorHidden_ = false;
};

}  // namespace

std::unique_ptr<Screen> MakeTerminalScreen(std::FILE* out, std::FILE* err, int columns) {
    return std::make_unique<TerminalScreen>(out, err, columns);
}

}  // namespace fwburn::console

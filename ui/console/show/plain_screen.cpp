// For a log: whole lines only, a phase's start, one line per tenth of it and one per retry.
// Several controllers on a terminal use it too, without the progress lines (each controller's
// line below them shows its progress and retries), their own lines fitted to the width.
#include <functional>
#include <utility>

#include "ui/console/show/screen.hpp"

namespace fwburn::console {

namespace {

class PlainScreen final : public Screen {
  public:
    PlainScreen(std::FILE* out, std::FILE* err, bool progressLines, std::function<int()> columns)
        : Screen(out, err, std::move(columns)), progressLines_(progressLines) {}

    void PhaseStarted(const ProgressView&, const ProgressView& view, double) override {
        if (!progressLines_) {
            return;
        }
        if (view.phase == Phase::Erasing) {
            OutLine(Fit("Erasing: " + std::to_string(view.total) + " steps"));
        } else if (view.phase == Phase::Programming) {
            OutLine(Fit("Programming: " + std::to_string(view.total) + " blocks of " +
                        std::to_string(totals_.blockSize) + " bytes"));
        }
        lastDecile_ = -1;
        Advanced(view, 0);
    }
    // A line per tenth: a log of a 2 MB transfer stays readable.
    void Advanced(const ProgressView& view, double) override {
        if (progressLines_ && view.phase != Phase::Checking && view.percent / 10 != lastDecile_) {
            lastDecile_ = view.percent / 10;
            Line(view);
        }
    }
    void Retried(const ProgressView& view, double) override {
        if (!progressLines_) {
            return;
        }
        OutLine(Fit("Retry: " + std::to_string(view.errCounter) + " in this command, " +
                    std::to_string(view.totalErrCounter) + " in all"));
    }
    void Settle(const ProgressView& view, double) override {
        if (progressLines_ && view.phase != Phase::Checking && view.done != lastDone_) {
            Line(view);
        }
    }

  private:
    void Line(const ProgressView& view) {
        lastDone_ = view.done;
        OutLine(Fit(PlainLine(view)));
    }

    bool progressLines_;
    int lastDecile_ = -1;
    uint32_t lastDone_ = 0;
};

}  // namespace

std::unique_ptr<Screen> MakePlainScreen(std::FILE* out, std::FILE* err, bool progressLines,
                                        std::function<int()> columns) {
    return std::make_unique<PlainScreen>(out, err, progressLines, std::move(columns));
}

}  // namespace fwburn::console

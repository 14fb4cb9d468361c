// The running update's figures as the console shows them: the phase, how far it got, the rate and
// the time still to go, and the retry counters. Pure functions of samples and their times.
#pragma once

#include <cstdint>
#include <string>

namespace fwburn::console {

// The panel's figures, read together (each one on its own is a relaxed load).
struct Figures {
    int32_t flashStatus = 0;
    int32_t progress = 0;
    int32_t errCounter = 0;
    int32_t totalErrCounter = 0;
};
Figures SampleFigures();

enum class Phase { kChecking, kErasing, kProgramming };
const char* PhaseName(Phase phase);   // "check", "erase", "program": the JSON word
const char* PhaseTitle(Phase phase);  // "Checking", "Erasing", "Programming"

// What each phase counts for the model and image of this program.
struct PhaseTotals {
    uint32_t eraseSteps = 0;
    uint32_t blocks = 0;
    uint32_t blockSize = 0;
};
PhaseTotals TotalsFor(int row, uint32_t imageLength);

struct ProgressView {
    Phase phase = Phase::kChecking;
    int percent = 0;
    uint32_t done = 0;   // erase steps or blocks, as far as the percentage tells
    uint32_t total = 0;  // 0 while checking
    double phaseSeconds = 0;
    double bytesPerSecond = -1;  // programming only; negative: not known yet
    double etaSeconds = -1;      // negative: not known yet
    int32_t errCounter = 0;
    int32_t totalErrCounter = 0;

    const char* unit() const { return phase == Phase::kErasing ? "steps" : "blocks"; }
};

class ProgressTracker {
  public:
    explicit ProgressTracker(PhaseTotals totals) : totals_(totals) {}

    struct Changes {
        bool phase = false;  // a new phase began (its first view is in view(), the last one of
                             // the phase before in finished())
        bool step = false;   // the percentage moved within the phase
        bool retry = false;  // an attempt failed since the last sample
    };
    // Takes a sample made `nowSeconds` after the update started.
    Changes Update(const Figures& figures, double nowSeconds);
    const ProgressView& view() const { return view_; }
    // The phase that ended at the last phase change. The erase ends only when all its steps are
    // done (the transfer starts after that alone), so it is shown complete whatever the last
    // sample caught of it.
    const ProgressView& finished() const { return finished_; }

  private:
    PhaseTotals totals_;
    ProgressView view_;
    ProgressView finished_;
    double phaseStart_ = 0;
};

// "0:07", "12:05", "1:02:03"; "--:--" for an unknown (negative) time.
std::string FormatDuration(double seconds);
// "850 B/s", "12.3 kB/s", "1.25 MB/s" (powers of 1000); empty when unknown.
std::string FormatRate(double bytesPerSecond);
// "[#####.....]" with `width` cells between the brackets.
std::string FormatBar(int percent, int width);

// The terminal's status line for `view`, at most `columns - 1` characters so that it never wraps.
std::string TerminalLine(const ProgressView& view, int columns);
// A line for a log: no bar, no carriage return.
std::string PlainLine(const ProgressView& view);

}  // namespace fwburn::console

// The running update's progress as the console shows it: the phase, the exact count the worker
// reported, the rate and the time still to go, and the retry counters; the line formats.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/progress.hpp"

namespace fwburn::console {

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
    Phase phase = Phase::Checking;
    int percent = 0;
    uint32_t done = 0;   // erase steps or blocks acknowledged
    uint32_t total = 0;  // 0 while checking
    double phaseSeconds = 0;
    double bytesPerSecond = -1;  // programming only; negative: not known yet
    double etaSeconds = -1;      // negative: not known yet
    int32_t errCounter = 0;
    int32_t totalErrCounter = 0;

    const char* unit() const { return phase == Phase::Erasing ? "steps" : "blocks"; }
};

// Follows the worker's events; the times are seconds since the update started.
class ProgressTracker {
  public:
    explicit ProgressTracker(uint32_t blockSize) : blockSize_(blockSize) {}

    // False when the phase is the one under way already (the checks the tracker starts in).
    bool PhaseStarted(Phase phase, uint32_t total, double now);
    void Advanced(uint32_t done, uint32_t total, int32_t percent);
    // The retry counters: from a failed attempt's event, or read from the figures.
    void Counters(int32_t errCounter, int32_t totalErrCounter);
    // The view at `now`: the rate and the time left are those of the phase so far.
    const ProgressView& At(double now);
    // The process was stopped (Ctrl-Z) for `seconds`: the rate and the time left are those of
    // the time it ran, as the controller saw it.
    void Paused(double seconds) { phaseStart_ += seconds; }
    const ProgressView& view() const { return view_; }

  private:
    uint32_t blockSize_;
    ProgressView view_;
    double phaseStart_ = 0;
};

// "0:07", "12:05", "1:02:03"; "--:--" for an unknown (negative) time.
std::string FormatDuration(double seconds);
// "850 B/s", "12.3 kB/s", "1.25 MB/s" (powers of 1000); empty when unknown.
std::string FormatRate(double bytesPerSecond);
// "[#####.....]" with `width` cells between the brackets.
std::string FormatBar(int percent, int width);

// `line`, its parts apart by two blanks, within `limit` columns: what does not fit goes in whole
// parts from its end, never half a figure, which would read as a figure of its own (44/44 cut to
// 44/4). A first part wider than `limit` is cut.
std::string WholeParts(const std::string& line, size_t limit);

// The terminal's status line for `view`, at most `columns - 1` characters so that it never wraps.
// What does not fit gives way in this order: the bar, the rate, retries that are all zero, the
// time left, the retries, the unit; the phase and the counts stay down to 40 columns.
std::string TerminalLine(const ProgressView& view, int columns);
// `name` cut in its middle to at most `length` characters, "..." in place of what is left out; the
// end keeps the larger half, where names keep their version, date or interface.
std::string CutName(const std::string& name, size_t length);
// A line printed once, fitted to `columns`: the longest word (an image name, a path) is cut in
// its middle first, down to 12 characters; what still does not fit goes on more lines, broken
// at blanks. Lines of their own are never run together.
std::string FitLine(const std::string& text, int columns);
// The window's message text fitted to `columns` without losing a word: broken at blanks only; a
// word longer than a line keeps a line of its own, whole, and the terminal wraps it.
std::string WrapLine(const std::string& text, int columns);
// "Result: success, total time 0:42": the last line on a terminal; `result` is the JSON word,
// coloured or not.
std::string ClosingLine(const std::string& result, double seconds);
// A line for a log: no bar, no carriage return.
std::string PlainLine(const ProgressView& view);

}  // namespace fwburn::console

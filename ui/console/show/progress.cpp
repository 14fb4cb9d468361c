#include "ui/console/show/progress.hpp"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "catalogue/catalogue.hpp"
#include "ui/console/show/shown_text.hpp"

namespace fwburn::console {

namespace {

// Shorter than this, a rate says more about the sampling than about the line.
constexpr double kShortestRatedSeconds = 0.25;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...) {
    char text[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string Retries(const ProgressView& view) {
    return Format("retries %d/%d", view.errCounter, view.totalErrCounter);
}

// Each phase's JSON word and title, in the order of Phase.
constexpr const char* kPhaseWords[][2] = {
    {"check", "Checking"}, {"erase", "Erasing"}, {"program", "Programming"}};

constexpr size_t kShortestCutWord = 12;
constexpr char kCut[] = "...";

// `line` on lines of at most `limit` columns, broken at blanks. A word longer than a line is
// cut where `cutLong`, else left whole on a line of its own (the terminal wraps it).
std::string BreakAtBlanks(const std::string& line, size_t limit, bool cutLong) {
    std::string out;
    size_t at = 0;
    while (Width(line.substr(at)) > limit) {
        const std::string room = HeadWithin(line.substr(at), limit);
        const size_t cut = line.rfind(' ', at + room.size());
        if (cut != std::string::npos && cut > at) {
            out += line.substr(at, cut - at) + "\n";
            at = cut + 1;
        } else if (cutLong) {
            // A character wider than the whole line still goes: a cut always moves on.
            const std::string piece = room.empty() ? HeadWithin(line.substr(at), 2) : room;
            out += piece + "\n";
            at += piece.size();
        } else {
            const size_t end = line.find(' ', at + 1);  // the long word's own end
            if (end == std::string::npos) {
                break;
            }
            out += line.substr(at, end - at) + "\n";
            at = end + 1;
        }
    }
    return out + line.substr(at);
}

std::string FitOneLine(const std::string& text, size_t limit) {
    const size_t width = Width(text);
    if (width <= limit) {
        return text;
    }
    // The longest word gives way first.
    size_t best = 0;
    size_t bestLength = 0;
    size_t bestWidth = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find(' ', at), text.size());
        const std::string word = text.substr(at, end - at);
        // Only a name is cut (an image file, a path): prose is broken at its blanks instead.
        if (const size_t w = Width(word);
            w > bestWidth && word.find_first_of("._/") != std::string::npos) {
            best = at;
            bestLength = end - at;
            bestWidth = w;
        }
        at = end + 1;
    }
    std::string line = text;
    const size_t over = width - limit;
    if (bestWidth > kShortestCutWord) {
        // Cut as far as the line then fits. Where no cut the name can bear does that, the line is
        // broken anyway: the name stays whole then (its version is what a person checks), cut
        // only to a line of its own.
        size_t length = bestWidth - std::min(over, bestWidth);
        if (length < kShortestCutWord) {
            length = std::min(bestWidth, limit);
        }
        line = text.substr(0, best) + CutName(text.substr(best, bestLength), length) +
               text.substr(best + bestLength);
    }
    // Then the rest goes on lines of its own, broken at blanks; a word longer than a line is cut.
    return BreakAtBlanks(line, limit, true);
}

// Each of `text`'s lines fitted by `fit` to `columns - 1` characters.
template <typename Fit>
std::string EachLine(const std::string& text, int columns, Fit fit) {
    const size_t limit = columns > 1 ? static_cast<size_t>(columns - 1) : 1;
    std::string out;
    size_t at = 0;
    for (;;) {
        const size_t end = text.find('\n', at);
        out += fit(text.substr(at, end == std::string::npos ? end : end - at), limit);
        if (end == std::string::npos) {
            return out;
        }
        out += '\n';
        at = end + 1;
    }
}

}  // namespace

const char* PhaseName(Phase phase) {
    return kPhaseWords[static_cast<int>(phase)][0];
}

const char* PhaseTitle(Phase phase) {
    return kPhaseWords[static_cast<int>(phase)][1];
}

PhaseTotals TotalsFor(int row, uint32_t imageLength) {
    const TransferGeometry g = TransferGeometryFor(row, imageLength);
    return PhaseTotals{EraseCount(row, imageLength), g.blockCount, g.blockSize};
}

bool ProgressTracker::PhaseStarted(Phase phase, uint32_t total, double now) {
    if (phase == view_.phase) {
        return false;
    }
    view_.phase = phase;
    view_.percent = 0;
    view_.done = 0;
    view_.total = total;
    phaseStart_ = now;
    return true;
}

void ProgressTracker::Advanced(uint32_t done, uint32_t total, int32_t percent) {
    view_.done = done;
    view_.total = total;
    view_.percent = std::clamp(percent, 0, 100);
}

void ProgressTracker::Counters(int32_t errCounter, int32_t totalErrCounter) {
    view_.errCounter = errCounter;
    view_.totalErrCounter = totalErrCounter;
}

const ProgressView& ProgressTracker::At(double now) {
    view_.phaseSeconds = std::max(0.0, now - phaseStart_);
    view_.bytesPerSecond = -1;
    view_.etaSeconds = -1;
    if (view_.done > 0 && view_.phaseSeconds >= kShortestRatedSeconds) {
        const double perSecond = view_.done / view_.phaseSeconds;
        view_.etaSeconds = (view_.total - std::min(view_.done, view_.total)) / perSecond;
        if (view_.phase == Phase::Programming) {
            view_.bytesPerSecond = perSecond * blockSize_;
        }
    }
    if (view_.total > 0 && view_.percent == 100) {
        view_.etaSeconds = 0;
    }
    return view_;
}

std::string FormatDuration(double seconds) {
    if (!(seconds >= 0) || !std::isfinite(seconds)) {
        return "--:--";
    }
    const long long whole = std::llround(seconds);
    if (whole >= 3600) {
        return Format("%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    }
    return Format("%lld:%02lld", whole / 60, whole % 60);
}

std::string FormatRate(double bytesPerSecond) {
    if (!(bytesPerSecond >= 0) || !std::isfinite(bytesPerSecond)) {
        return "";
    }
    if (bytesPerSecond < 999.5) {
        return Format("%.0f B/s", bytesPerSecond);
    }
    if (bytesPerSecond < 999950) {
        return Format("%.1f kB/s", bytesPerSecond / 1e3);
    }
    return Format("%.2f MB/s", bytesPerSecond / 1e6);
}

std::string FormatBar(int percent, int width) {
    width = std::max(width, 0);
    const int filled = std::clamp(percent, 0, 100) * width / 100;
    return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
}

std::string WholeParts(const std::string& line, size_t limit) {
    const std::string head = HeadWithin(line, limit);
    if (head.size() == line.size()) {
        return line;
    }
    const size_t gap = line.rfind("  ", head.size());
    const size_t end = gap == std::string::npos ? gap : line.find_last_not_of(' ', gap);
    return end == std::string::npos ? head : line.substr(0, end + 1);
}

std::string TerminalLine(const ProgressView& view, int columns) {
    const size_t limit = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
    const std::string title = Format("%-11s", PhaseTitle(view.phase));
    if (view.phase == Phase::Checking) {
        return WholeParts(title + "  " + FormatDuration(view.phaseSeconds) + "  " + Retries(view),
                          limit);
    }
    const bool retried = view.errCounter != 0 || view.totalErrCounter != 0;
    const std::string rate =
        view.phase == Phase::Programming ? FormatRate(view.bytesPerSecond) : "";
    // What is left out, one more at each step, until the line fits.
    constexpr int kRate = 1, kIdleRetries = 2, kEta = 4, kRetries = 8, kUnit = 16;
    constexpr int kSteps[] = {0,
                              kRate,
                              kRate | kIdleRetries,
                              kRate | kIdleRetries | kEta,
                              kRate | kIdleRetries | kEta | kRetries,
                              kRate | kIdleRetries | kEta | kRetries | kUnit};
    std::string figures;
    for (const int dropped : kSteps) {
        figures = Format("%3d%%  %u/%u", view.percent, view.done, view.total);
        if ((dropped & kUnit) == 0) {
            figures += std::string(" ") + view.unit();
        }
        if ((dropped & kRate) == 0 && !rate.empty()) {
            figures += "  " + rate;
        }
        if ((dropped & kEta) == 0) {  // a phase done keeps what it took, as a log line does
            figures += view.percent == 100 ? "  took " + FormatDuration(view.phaseSeconds)
                                           : "  ETA " + FormatDuration(view.etaSeconds);
        }
        const bool retries =
            (dropped & kRetries) == 0 && (retried || (dropped & kIdleRetries) == 0);
        if (retries) {
            figures += "  " + Retries(view);
        }
        if (title.size() + 2 + figures.size() <= limit) {
            break;
        }
    }
    // The bar takes what is left, up to 40 cells; below 10 it is left out. Around it: two gaps of
    // two blanks and its brackets.
    const long room =
        static_cast<long>(limit) - static_cast<long>(title.size() + figures.size()) - 6;
    const int width = static_cast<int>(std::min<long>(room, 40));
    const std::string bar = width >= 10 ? "  " + FormatBar(view.percent, width) : "";
    return WholeParts(title + bar + "  " + figures, limit);
}

std::string CutName(const std::string& name, size_t length) {
    const size_t width = Width(name);
    if (width <= length || length <= sizeof kCut) {
        return HeadWithin(name, length);
    }
    const size_t kept = length - (sizeof kCut - 1);
    const size_t head = kept / 2;
    return HeadWithin(name, head) + kCut + TailWithin(name, kept - head);
}

std::string FitLine(const std::string& text, int columns) {
    return EachLine(text, columns, FitOneLine);
}

std::string WrapLine(const std::string& text, int columns) {
    return EachLine(text, columns, [](const std::string& line, size_t limit) {
        return BreakAtBlanks(line, limit, false);
    });
}

std::string ClosingLine(const std::string& result, double seconds) {
    return "Result: " + result + ", total time " + FormatDuration(seconds);
}

std::string PlainLine(const ProgressView& view) {
    if (view.phase == Phase::Checking) {
        return Format("%s: %s, %s", PhaseTitle(view.phase),
                      FormatDuration(view.phaseSeconds).c_str(), Retries(view).c_str());
    }
    std::string line = Format("%s: %d%%, %u/%u %s", PhaseTitle(view.phase), view.percent, view.done,
                              view.total, view.unit());
    if (view.phase == Phase::Programming && view.bytesPerSecond >= 0) {
        line += ", " + FormatRate(view.bytesPerSecond);
    }
    if (view.percent == 100) {
        line += ", took " + FormatDuration(view.phaseSeconds);
    } else {
        line += ", ETA " + FormatDuration(view.etaSeconds);
    }
    return line + ", " + Retries(view);
}

}  // namespace fwburn::console

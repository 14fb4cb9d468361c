#include "ui/win32/panel_text.hpp"

#include <cstdio>

namespace fwburn::panel {

const char kElapsedLabel[] = "Elapsed Time:              sec";
const char kProgressLabel[] = "Progress:            %";
const char kStatusLabel[] = "Status: ";
const char* const kStandInLines[2] = {"TEST BUILD:", "STAND-IN IMAGE"};

int ProgressBarRight(int32_t progress) {
    return kTrack.left + static_cast<int>((static_cast<int64_t>(progress) * 510) / 100);
}

Text Figure(int32_t value) {
    Text t{};
    const int n = std::snprintf(t.chars, sizeof t.chars, "%3d", static_cast<int>(value));
    t.length = n < 0 ? 0 : n;
    return t;
}

const char* PhaseWord(int32_t flashStatus) {
    switch (flashStatus) {
        case 0:
            return "Idle";
        case 1:
            return "Erasing";
        case 2:
            return "Programming";
        default:
            return "";
    }
}

Text CounterText(int32_t errors, int32_t total) {
    Text t{};
    const int n = std::snprintf(t.chars, sizeof t.chars, "# of Error/Total Error: %d/%d",
                                static_cast<int>(errors), static_cast<int>(total));
    t.length = n < 0 ? 0 : n;
    return t;
}

}  // namespace fwburn::panel

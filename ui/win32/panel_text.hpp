// What the status panel shows, as plain values: field rectangles, text positions, the fixed
// texts and the formatted figures. The painters draw exactly these; no platform header here.
#pragma once

#include <cstdint>

namespace fwburn::panel {

struct Box {
    int left, top, right, bottom;  // right and bottom lie outside the filled area
};

constexpr Box kElapsedField{160, 70, 335, 90};
constexpr Box kTrack{10, 105, 520, 125};
constexpr Box kProgressField{10, 140, 130, 160};
constexpr Box kStatusField{160, 140, 300, 160};
constexpr Box kCounterField{320, 140, 540, 160};

struct Point {
    int x, y;
};
constexpr Point kElapsedLabelAt{160, 70};
constexpr Point kElapsedNumberAt{270, 70};
constexpr Point kProgressLabelAt{10, 140};
constexpr Point kProgressNumberAt{85, 140};
constexpr Point kStatusLabelAt{160, 140};
constexpr Point kPhaseAt{209, 140};
constexpr Point kCounterAt{320, 140};
constexpr Point kDateAt{300, 25};
// A stand-in build shows kStandInLines where the date stands, in red, on two lines: on one the
// text would run into the logo.
constexpr Point kStandInSecondLineAt{300, 41};
constexpr Point kLogoAt{435, 15};
constexpr int kLogoWidth = 87;
constexpr int kLogoHeight = 28;

constexpr uint32_t kTrackColour = 0x00FFFFFF;  // 0x00BBGGRR
constexpr uint32_t kBarColour = 0x000000FF;
constexpr uint32_t kStandInColour = 0x000000FF;

// The labels: the numbers are drawn into their runs of spaces.
extern const char kElapsedLabel[];          // "Elapsed Time:" 14 spaces "sec", 30 characters
extern const char kProgressLabel[];         // "Progress:" 12 spaces "%", 22 characters
extern const char kStatusLabel[];           // "Status: ", 8 characters
extern const char* const kStandInLines[2];  // "TEST BUILD:", "STAND-IN IMAGE"

// A text and its length, as TextOut takes them.
struct Text {
    char chars[48];
    int length;
};

// Right edge of the red bar: 10 + progress * 510 / 100, integer division. 0 % draws no red,
// 100 % covers the track exactly.
int ProgressBarRight(int32_t progress);

// Elapsed seconds and progress: right-aligned in three places, more digits as needed.
Text Figure(int32_t value);

// The phase word of flashStatus: "Idle", "Erasing", "Programming", or "" for any other value.
const char* PhaseWord(int32_t flashStatus);

// "# of Error/Total Error: <errors>/<total>".
Text CounterText(int32_t errors, int32_t total);

}  // namespace fwburn::panel

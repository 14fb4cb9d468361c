// The status panel's figures and texts, as the painters draw them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/win32/panel_text.hpp"

namespace fwburn::panel {
namespace {

TEST(Panel, ProgressBarRightEdge) {
    const struct {
        int32_t progress;
        int right;
    } cases[] = {{0, 10}, {1, 15}, {2, 20}, {50, 265}, {99, 514}, {100, 520}};
    for (const auto& c : cases) {
        EXPECT_EQ(ProgressBarRight(c.progress), c.right) << c.progress;
    }
    EXPECT_EQ(ProgressBarRight(100), kTrack.right);  // the bar covers the track exactly
}

TEST(Panel, FiguresAreRightAlignedInThreePlaces) {
    const struct {
        int32_t value;
        const char* text;
    } cases[] = {{0, "  0"},   {7, "  7"},     {42, " 42"},
                 {100, "100"}, {1000, "1000"}, {12345, "12345"}};
    for (const auto& c : cases) {
        const Text t = Figure(c.value);
        EXPECT_EQ(std::string(t.chars, static_cast<size_t>(t.length)), c.text);
    }
}

TEST(Panel, FixedTextsHaveTheirLengths) {
    EXPECT_EQ(std::strlen(kElapsedLabel), 30u);
    EXPECT_EQ(std::string(kElapsedLabel), "Elapsed Time:" + std::string(14, ' ') + "sec");
    EXPECT_EQ(std::strlen(kProgressLabel), 22u);
    EXPECT_EQ(std::string(kProgressLabel), "Progress:" + std::string(12, ' ') + "%");
    EXPECT_STREQ(kStatusLabel, "Status: ");
}

TEST(Panel, PhaseWords) {
    EXPECT_STREQ(PhaseWord(0), "Idle");
    EXPECT_STREQ(PhaseWord(1), "Erasing");
    EXPECT_STREQ(PhaseWord(2), "Programming");
    EXPECT_STREQ(PhaseWord(3), "");
    EXPECT_STREQ(PhaseWord(-1), "");
}

TEST(Panel, CounterText) {
    Text t = CounterText(0, 0);
    EXPECT_EQ(std::string(t.chars, static_cast<size_t>(t.length)), "# of Error/Total Error: 0/0");
    t = CounterText(6, 123);
    EXPECT_EQ(std::string(t.chars, static_cast<size_t>(t.length)), "# of Error/Total Error: 6/123");
}

}  // namespace
}  // namespace fwburn::panel

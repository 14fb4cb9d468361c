#include "ui/console/show/progress.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <utility>

#include "catalogue/catalogue.hpp"
#include "tests/console/screen_fixture.hpp"

namespace fwburn::console {
namespace {

TEST(FormatTest, Durations) {
    const std::pair<double, const char*> cases[] = {
        {0, "0:00"},       {0.4, "0:00"},           {0.6, "0:01"},     {59.4, "0:59"},
        {59.6, "1:00"},    {605, "10:05"},          {3599.4, "59:59"}, {3600, "1:00:00"},
        {3723, "1:02:03"}, {36000 * 3, "30:00:00"}, {-1, "--:--"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(FormatDuration(seconds), text) << seconds;
    }
    EXPECT_EQ(FormatDuration(std::numeric_limits<double>::infinity()), "--:--");
}

TEST(FormatTest, Rates) {
    const std::pair<double, const char*> cases[] = {
        {0, "0 B/s"},          {850, "850 B/s"},       {999.4, "999 B/s"},
        {999.6, "1.0 kB/s"},   {12345, "12.3 kB/s"},   {999949, "999.9 kB/s"},
        {999950, "1.00 MB/s"}, {1250000, "1.25 MB/s"}, {-1, ""},
    };
    for (const auto& [rate, text] : cases) {
        EXPECT_EQ(FormatRate(rate), text) << rate;
    }
}

TEST(FormatTest, Bars) {
    EXPECT_EQ(FormatBar(0, 10), "[..........]");
    EXPECT_EQ(FormatBar(49, 10), "[####......]");
    EXPECT_EQ(FormatBar(50, 10), "[#####.....]");
    EXPECT_EQ(FormatBar(100, 10), "[##########]");
    EXPECT_EQ(FormatBar(150, 4), "[####]");
    EXPECT_EQ(FormatBar(-3, 4), "[....]");
    EXPECT_EQ(FormatBar(50, 0), "[]");
}

TEST(TotalsTest, DeliveredProfilesCountStepsAndBlocksOfTheirModels) {
    // ZL500: the last 4 KiB stay behind; ZL500-AIO sends it all.
    const PhaseTotals zl = TotalsFor(FindModelRow("ZL500"), 2076672);
    EXPECT_EQ(zl.eraseSteps, 506u);
    EXPECT_EQ(zl.blocks, 8096u);
    EXPECT_EQ(zl.blockSize, 256u);
    const PhaseTotals aio = TotalsFor(FindModelRow("ZL500-AIO"), 11056);
    EXPECT_EQ(aio.eraseSteps, 6u);
    EXPECT_EQ(aio.blocks, 44u);
}

TEST(TrackerTest, FollowsThePhasesAndKeepsTheExactCounts) {
    ProgressTracker t(256);
    EXPECT_FALSE(t.PhaseStarted(Phase::Checking, 0, 0.0));  // where it starts
    EXPECT_EQ(t.At(1.0).phase, Phase::Checking);
    EXPECT_EQ(t.view().total, 0u);

    EXPECT_TRUE(t.PhaseStarted(Phase::Erasing, 500, 2.0));
    EXPECT_EQ(t.view().phase, Phase::Erasing);
    EXPECT_EQ(t.view().total, 500u);
    EXPECT_STREQ(t.view().unit(), "steps");

    // The count is the worker's, not one made up from the percentage (which would give 195).
    t.Advanced(200, 500, 39);
    const ProgressView& v = t.At(4.0);
    EXPECT_EQ(v.done, 200u);
    EXPECT_EQ(v.percent, 39);
    EXPECT_DOUBLE_EQ(v.phaseSeconds, 2.0);
    EXPECT_DOUBLE_EQ(v.etaSeconds, 3.0);  // 200 steps in 2 s, 300 to go
    EXPECT_LT(v.bytesPerSecond, 0);       // no bytes go out while erasing

    EXPECT_FALSE(t.PhaseStarted(Phase::Erasing, 500, 4.5));  // no second start
    EXPECT_EQ(t.view().done, 200u);
    EXPECT_TRUE(t.PhaseStarted(Phase::Programming, 8000, 5.0));
    EXPECT_EQ(t.view().done, 0u);
    EXPECT_EQ(t.view().percent, 0);
}

TEST(TrackerTest, RateAndTimeLeftWhileProgramming) {
    ProgressTracker t(256);
    t.PhaseStarted(Phase::Programming, 8000, 10.0);
    t.Advanced(2000, 8000, 24);  // 2000 blocks of 256 bytes in 4 s
    EXPECT_EQ(t.At(14.0).done, 2000u);
    EXPECT_STREQ(t.view().unit(), "blocks");
    EXPECT_DOUBLE_EQ(t.view().bytesPerSecond, 128000.0);
    EXPECT_DOUBLE_EQ(t.view().etaSeconds, 12.0);
    t.Advanced(8000, 8000, 100);
    EXPECT_EQ(t.At(26.0).done, 8000u);
    EXPECT_DOUBLE_EQ(t.view().etaSeconds, 0.0);
}

TEST(TrackerTest, TimeStoppedByTheStopKeyIsNotCountedInTheRate) {
    ProgressTracker t(256);
    t.PhaseStarted(Phase::Programming, 8000, 10.0);
    t.Advanced(2000, 8000, 24);
    t.Paused(60.0);  // 2000 blocks in the 4 s it ran, not in 64 s
    EXPECT_DOUBLE_EQ(t.At(74.0).bytesPerSecond, 128000.0);
    EXPECT_DOUBLE_EQ(t.view().etaSeconds, 12.0);
    EXPECT_DOUBLE_EQ(t.view().phaseSeconds, 4.0);
}

TEST(TrackerTest, NoRateBeforeAnythingWasDoneOrTooSoonToTell) {
    ProgressTracker t(256);
    t.PhaseStarted(Phase::Programming, 8000, 1.0);
    t.At(5.0);
    EXPECT_LT(t.view().etaSeconds, 0);
    EXPECT_LT(t.view().bytesPerSecond, 0);
    ProgressTracker quick(256);
    quick.PhaseStarted(Phase::Programming, 8000, 1.0);
    quick.Advanced(800, 8000, 9);
    EXPECT_LT(quick.At(1.1).etaSeconds, 0);
}

TEST(TrackerTest, RetryCountersAreTakenAsGiven) {
    ProgressTracker t(256);
    t.Counters(2, 5);
    EXPECT_EQ(t.view().errCounter, 2);
    EXPECT_EQ(t.view().totalErrCounter, 5);
    t.Counters(0, 5);  // the exchange went through at last
    EXPECT_EQ(t.At(1.0).errCounter, 0);
    EXPECT_EQ(t.view().totalErrCounter, 5);
}

TEST(TrackerTest, PercentOutsideItsRangeIsClamped) {
    ProgressTracker t(128);
    t.PhaseStarted(Phase::Programming, 10, 0.0);
    t.Advanced(10, 10, 250);
    EXPECT_EQ(t.At(1.0).percent, 100);
    EXPECT_EQ(t.view().done, 10u);
    t.Advanced(0, 10, -4);
    EXPECT_EQ(t.At(2.0).percent, 0);
}

using fixture::Programming;

TEST(LineTest, TerminalLineHasEveryFigureAndNeverWraps) {
    const std::string wide = TerminalLine(Programming(), 120);
    for (const char* part : {"Programming", " 42%", "3400/8096 blocks", "87.0 kB/s", "ETA 0:14",
                             "retries 1/4", "[####"}) {
        EXPECT_NE(wide.find(part), std::string::npos) << part << " in " << wide;
    }
    for (int columns : {200, 120, 100, 97, 80, 60, 40, 20}) {
        const std::string line = TerminalLine(Programming(), columns);
        EXPECT_LT(line.size(), static_cast<size_t>(columns)) << line;
        if (columns >= 80) {  // the bar gives way before any figure does
            EXPECT_EQ(line.substr(line.size() - 11), "retries 1/4") << line;
        }
        EXPECT_EQ(line.find('\r'), std::string::npos);
        EXPECT_EQ(line.find('\n'), std::string::npos);
    }
    // No room for a bar: the figures stay.
    EXPECT_EQ(TerminalLine(Programming(), 60).find('['), std::string::npos);
    EXPECT_NE(TerminalLine(Programming(), 60).find("3400/8096"), std::string::npos);
}

TEST(LineTest, CheckingShowsTimeAndRetriesOnly) {
    ProgressView v;
    v.phaseSeconds = 7.2;
    v.errCounter = 2;
    v.totalErrCounter = 5;
    EXPECT_EQ(TerminalLine(v, 80), "Checking     0:07  retries 2/5");
    EXPECT_EQ(TerminalLine(v, 28), "Checking     0:07");
    EXPECT_EQ(PlainLine(v), "Checking: 0:07, retries 2/5");
}

TEST(LineTest, PlainLinesForALog) {
    EXPECT_EQ(PlainLine(Programming()),
              "Programming: 42%, 3400/8096 blocks, 87.0 kB/s, ETA 0:14, retries 1/4");
    ProgressView erase;
    erase.phase = Phase::Erasing;
    erase.percent = 100;
    erase.done = erase.total = 506;
    erase.phaseSeconds = 12.6;
    EXPECT_EQ(PlainLine(erase), "Erasing: 100%, 506/506 steps, took 0:13, retries 0/0");
    EXPECT_NE(TerminalLine(erase, 80).find("]  100%  506/506 steps  took 0:13  retries 0/0"),
              std::string::npos)
        << TerminalLine(erase, 80);
}

}  // namespace
}  // namespace fwburn::console

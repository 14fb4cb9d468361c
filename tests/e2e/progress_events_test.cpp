// The progress a front end is told during a whole update: each phase with its total, every erase
// step and block by its exact index with the percentage the panel shows for it, every failed
// attempt with both counters. The sink checks, at every event, that the figures already say the
// same.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/bench.hpp"

namespace fwburn {
namespace {

using sim::FaultKind;
using test::Bench;
using test::Fault;
using test::Options;

class RecordingSink : public ProgressSink {
  public:
    explicit RecordingSink(const Figures& figures) : figures_(figures) {}

    std::vector<std::string> events;

    void PhaseStarted(Phase phase, uint32_t total) override {
        Note("start " + Name(phase) + " " + std::to_string(total));
        EXPECT_EQ(figures_.flashStatus, static_cast<int32_t>(phase));
        EXPECT_EQ(figures_.total, total);
        EXPECT_EQ(figures_.done, 0u);
        EXPECT_EQ(figures_.progress, 0);
    }
    void Advanced(Phase phase, uint32_t done, uint32_t total, int32_t percent) override {
        Note(Name(phase) + " " + std::to_string(done) + "/" + std::to_string(total) + " " +
             std::to_string(percent) + "%");
        EXPECT_EQ(figures_.flashStatus, static_cast<int32_t>(phase));
        EXPECT_EQ(figures_.done, done);
        EXPECT_EQ(figures_.total, total);
        EXPECT_EQ(figures_.progress, percent);
    }
    void Retried(Phase phase, int32_t errCounter, int32_t totalErrCounter) override {
        Note("retry " + Name(phase) + " " + std::to_string(errCounter) + " " +
             std::to_string(totalErrCounter));
        EXPECT_EQ(figures_.errCounter, errCounter);
        EXPECT_EQ(figures_.totalErrCounter, totalErrCounter);
    }

  private:
    static std::string Name(Phase phase) {
        switch (phase) {
            case Phase::Checking:
                return "checking";
            case Phase::Erasing:
                return "erasing";
            case Phase::Programming:
                return "programming";
        }
        return "?";
    }
    void Note(const std::string& e) { events.push_back(e); }

    const Figures& figures_;
};

std::string Joined(const std::vector<std::string>& lines) {
    std::ostringstream out;
    for (const auto& l : lines) {
        out << l << "\n";
    }
    return out.str();
}

// 11,056 bytes on the analog module: 6 erase steps of 2 KiB rounded up, 44 blocks of 256 bytes.
// Two silent model-ID queries, the third erase step refused once, the fourth block twice.
TEST(E2eProgress, EveryStepBlockAndRetryOfAWholeUpdate) {
    Bench bench(Options("ZL500-AIO", 11056,
                        {Fault(sim::Phase::kIdQuery, FaultKind::kSilence, 2),
                         Fault(sim::Phase::kEraseStep, FaultKind::kNak, 1, 2),
                         Fault(sim::Phase::kBlock, FaultKind::kNak, 2, 3)}));
    RecordingSink sink(bench.update.figures);
    bench.update.sink = &sink;
    bench.Start();
    ASSERT_EQ(bench.outcome.kind, OutcomeKind::Success) << bench.outcome.text;
    EXPECT_TRUE(bench.FlashMatchesImage());

    std::vector<std::string> want = {"start checking 0", "retry checking 1 1", "retry checking 2 2",
                                     "start erasing 6"};
    // The panel's erase percentage counts the steps before the one just acknowledged.
    const char* const erase[] = {"erasing 1/6 0%",  "erasing 2/6 16%", "retry erasing 1 3",
                                 "erasing 3/6 33%", "erasing 4/6 50%", "erasing 5/6 66%",
                                 "erasing 6/6 83%", "erasing 6/6 100%"};
    want.insert(want.end(), std::begin(erase), std::end(erase));
    want.push_back("start programming 44");
    for (int block = 1; block <= 44; ++block) {
        if (block == 4) {
            want.push_back("retry programming 1 4");
            want.push_back("retry programming 2 5");
        }
        want.push_back("programming " + std::to_string(block) + "/44 " +
                       std::to_string(block * 100 / 45) + "%");
    }
    want.push_back("programming 44/44 100%");
    EXPECT_EQ(Joined(sink.events), Joined(want));
}

// A transfer that dies at block 101 of 200: the message is shown with exactly 100 blocks done.
TEST(E2eProgress, FailureAtBlock101LeavesExactlyHundredDone) {
    Bench bench(Options("ZL500", 4096 + 256 * 200,
                        {Fault(sim::Phase::kBlock, FaultKind::kNak, sim::kForever, 100)}));
    RecordingSink sink(bench.update.figures);
    bench.update.sink = &sink;
    bench.Start();

    EXPECT_EQ(bench.outcome.kind, OutcomeKind::FailedAfterErase);
    EXPECT_TRUE(bench.outcome.erased);
    EXPECT_STREQ(bench.outcome.text, "Firmware update is FAILED");
    const test::OperatorEvent final = bench.Final();
    EXPECT_EQ(final.flashStatus, 2);
    EXPECT_EQ(final.done, 100u);
    EXPECT_EQ(final.total, 200u);
    EXPECT_EQ(final.progress, 100 * 100 / 201);
    EXPECT_EQ(final.errCounter, 6);
    EXPECT_EQ(final.totalErrCounter, 6);

    ASSERT_GE(sink.events.size(), 7u);
    const std::vector<std::string> tail(sink.events.end() - 7, sink.events.end());
    EXPECT_EQ(Joined(tail),
              Joined({"programming 100/200 49%", "retry programming 1 1", "retry programming 2 2",
                      "retry programming 3 3", "retry programming 4 4", "retry programming 5 5",
                      "retry programming 6 6"}));
    // The end of the update clears the figures; the sink is told nothing of that.
    EXPECT_EQ(bench.update.figures.done, 0u);
    EXPECT_EQ(bench.update.figures.total, 0u);
}

// Without a sink the update runs the same: the figures alone carry the counts.
TEST(E2eProgress, NoSinkNeeded) {
    Bench bench(Options("MN6", 9002));
    bench.Start();
    EXPECT_EQ(bench.outcome.kind, OutcomeKind::Success);
    EXPECT_EQ(bench.Final().done, 71u);
    EXPECT_EQ(bench.Final().total, 71u);
    EXPECT_TRUE(bench.FlashMatchesImage());
}

}  // namespace
}  // namespace fwburn

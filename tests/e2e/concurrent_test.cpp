// Four updates at once in one process: four threads, each with its own update object, operator
// and simulated controller of another model, started together. Each must end with its own
// outcome, its own figures and, on success, its own image in its controller's flash; nothing of
// one update may leak into another. Built for ThreadSanitizer too.
#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/bench.hpp"

namespace fwburn::test {
namespace {

struct Job {
    const char* model;
    uint32_t length;
    int nakStormAtBlock;  // every send of this block (0-based) refused; -1: none
    OutcomeKind kind;
    const char* text;
    uint32_t eraseSteps;
    uint32_t blocks;  // of the transfer
    uint32_t done;    // blocks acknowledged when the final message is shown
};

// clang-format off
const Job kJobs[] = {
    {"ZL500", 4096 + 256 * 3000, -1, OutcomeKind::Success, "Firmware update is SUCCESSFUL!, please REPLUG the USB cable", 188, 3000, 3000},
    {"ZL500-AIO", 11056, -1, OutcomeKind::Success, "Firmware update is SUCCESSFUL!, please REPLUG the USB cable", 6, 44, 44},
    {"RV7-G", 131072 + 5, -1, OutcomeKind::Success, "Firmware update is SUCCESSFUL", 2, 1025, 1025},
    {"MN6", 128 * 400, 250, OutcomeKind::FailedAfterErase, "Firmware update is FAILED", 26, 400, 250},
};
// clang-format on

// Holds every thread until all are ready, so that the updates overlap.
class StartLine {
  public:
    explicit StartLine(int count) : waiting_(count) {}
    void Arrive() {
        std::unique_lock<std::mutex> lock(m_);
        if (--waiting_ == 0) {
            cv_.notify_all();
            return;
        }
        cv_.wait(lock, [this] { return waiting_ == 0; });
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    int waiting_;
};

BenchOptions OptionsFor(const Job& j) {
    BenchOptions o = Options(j.model, j.length);
    if (j.nakStormAtBlock >= 0) {
        o.faults.replies.push_back(
            Fault(sim::Phase::kBlock, FaultKind::kNak, sim::kForever, j.nakStormAtBlock));
    }
    return o;
}

TEST(E2eConcurrent, FourUpdatesAtOnceEachEndItsOwnWay) {
    constexpr int kCount = sizeof kJobs / sizeof kJobs[0];
    std::vector<std::unique_ptr<Bench>> benches;
    for (const Job& j : kJobs) {
        benches.push_back(std::make_unique<Bench>(OptionsFor(j)));
    }
    // Each bench's serial model opens a port of its own name.
    benches[2]->update.SetPortName("COM7");
    benches[3]->update.SetPortName("COM8");

    // The figures of each update as another thread reads them meanwhile: never beyond 100 %,
    // no step count but its own. (Each figure is read on its own: a phase and a total read
    // while the phase changes may belong to the two phases.)
    std::atomic<bool> running{true};
    std::atomic<int> badReads{0};
    std::thread panel([&] {
        while (running.load()) {
            for (int i = 0; i < kCount; ++i) {
                const Figures& f = benches[i]->update.figures;
                const uint32_t total = f.total;
                const bool own =
                    total == 0 || total == kJobs[i].eraseSteps || total == kJobs[i].blocks;
                if (f.progress > 100 || !own) {
                    ++badReads;
                }
            }
            std::this_thread::yield();
        }
    });

    StartLine line(kCount);
    std::vector<std::thread> workers;
    for (int i = 0; i < kCount; ++i) {
        workers.emplace_back([&, i] {
            line.Arrive();
            benches[i]->Start();
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    running = false;
    panel.join();
    EXPECT_EQ(badReads, 0);

    for (int i = 0; i < kCount; ++i) {
        const Job& j = kJobs[i];
        const Bench& b = *benches[i];
        SCOPED_TRACE(j.model);
        EXPECT_EQ(b.outcome.kind, j.kind) << b.outcome.text;
        EXPECT_STREQ(b.outcome.text, j.text);
        EXPECT_TRUE(b.outcome.erased);
        ASSERT_EQ(b.finalMessages.size(), 1u);
        const OperatorEvent final = b.Final();
        EXPECT_EQ(final.text, j.text);
        EXPECT_EQ(final.flashStatus, 2);
        EXPECT_EQ(final.total, j.blocks);
        EXPECT_EQ(final.done, j.done);
        EXPECT_EQ(final.totalErrCounter, j.kind == OutcomeKind::Success ? 0 : 6);
        EXPECT_EQ(b.controller.eraseSteps(), j.eraseSteps);
        EXPECT_EQ(b.controller.blocksTaken(), j.done);
        EXPECT_EQ(b.FlashMatchesImage(), j.kind == OutcomeKind::Success);
        EXPECT_EQ(b.controller.violationCount(), 0u) << b.Violations();
        EXPECT_FALSE(b.link.IsOpen());
        // The serial models opened their own port by its name, and only that one.
        for (const auto& open : b.op.Of(OperatorEvent::kOpenSerial)) {
            EXPECT_EQ(open.text, i == 2 ? "COM7" : "COM8");
        }
    }
}

}  // namespace
}  // namespace fwburn::test

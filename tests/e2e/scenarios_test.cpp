// Whole-update scenarios beyond one message: counters across a reconnect, a controller already in
// its bootloader, a second Start, a controller that never leaves its application, and the worker
// on a thread of its own while the panel reads the figures.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/e2e/bench.hpp"

namespace fwburn::test {
namespace {

TEST(Scenario, RetriesCountAcrossTheReconnect) {
    Bench bench(Options(
        "ZL500", 4096 + 256 * 20,
        {Fault(Phase::kIdQuery, FaultKind::kSilence, 2), Fault(Phase::kBootId, FaultKind::kNak, 1),
         Fault(Phase::kBlock, FaultKind::kGarbage, 3, 4)}));
    bench.Start();
    const auto messages = bench.op.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].totalErrCounter, 2);  // the replug prompt, after the application pass
    EXPECT_EQ(bench.Final().totalErrCounter, 6);
    EXPECT_TRUE(bench.FlashMatchesImage());
    EXPECT_EQ(bench.update.figures.totalErrCounter, 0);
}

// After the power cycle the port is opened again by the update's port name: the same as at the
// start, or the one the front end set while the prompt was open.
TEST(Scenario, PowerCycleReopensThePortBySelectedName) {
    struct Case {
        const char* model;
        const char* atStart;
        const char* pickedDuringPrompt;  // nullptr: none
        const char* reopened;
    };
    const Case cases[] = {
        {"RV7-G", "COM12", nullptr, "COM12"},
        {"KT5-VUP", "COM123456", nullptr, "COM123456"},
        {"RV7-G", "COM3", "COM7", "COM7"},
        {"KT5-VUP", "COM4", "COM10", "COM10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.atStart);
        Bench bench(Options(c.model, 5000));
        bench.update.SetPortName(c.atStart);
        const auto powerCycle = bench.op.onMessage;
        bench.op.onMessage = [&](const OperatorEvent& m) {
            if (c.pickedDuringPrompt != nullptr && m.prompt &&
                m.reconnect == ReconnectKind::PowerCycle) {
                bench.update.SetPortName(c.pickedDuringPrompt);
            }
            return powerCycle(m);
        };
        bench.Start();
        EXPECT_EQ(bench.Final().text, "Firmware update is SUCCESSFUL");
        const auto opens = bench.op.Of(OperatorEvent::kOpenSerial);
        ASSERT_EQ(opens.size(), 2u);
        EXPECT_EQ(opens[0].text, c.atStart);
        EXPECT_EQ(opens[1].text, c.reopened);
        EXPECT_TRUE(bench.FlashMatchesImage());
    }
}

TEST(Scenario, BootModeAtTheFirstPassGoesStraightToTheBootloader) {
    BenchOptions o = Options("MN6", 5000);
    o.faults.bootAtPowerOn = true;
    Bench bench(o);
    bench.Start();
    EXPECT_EQ(bench.Final().text, "Firmware update is SUCCESSFUL");
    EXPECT_EQ(bench.op.Of(OperatorEvent::kWait).size(), 0u);
    EXPECT_EQ(bench.controller.requests(Phase::kIdQuery), 0u);
    EXPECT_EQ(bench.controller.requests(Phase::kUpdateRequest), 0u);
    EXPECT_TRUE(bench.FlashMatchesImage());
}

TEST(Scenario, SecondStartAfterAFailedTransferCompletesTheUpdate) {
    // One update's budget of refused blocks.
    Bench bench(Options("ZL500-AIO", 11056, {Fault(Phase::kBlock, FaultKind::kNak, 6, 20)}));
    bench.Start();
    EXPECT_EQ(bench.Final().text, "Firmware update is FAILED");
    EXPECT_FALSE(bench.FlashMatchesImage());
    EXPECT_EQ(bench.op.Messages().size(), 2u);  // the replug prompt and the failure

    // The controller stays in its bootloader: the next Start begins in boot mode.
    bench.finalMessages.clear();
    bench.op.events.clear();
    bench.Start();
    EXPECT_EQ(bench.Final().text, "Firmware update is SUCCESSFUL!, please REPLUG the USB cable");
    EXPECT_EQ(bench.op.Messages().size(), 1u);  // no prompt this time
    EXPECT_TRUE(bench.FlashMatchesImage());
    EXPECT_EQ(bench.controller.violationCount(), 0u) << bench.Violations();
}

// The window keeps one Update for every Start: what one update did is not told of the next.
TEST(Scenario, ASecondStartTellsOnlyOfItsOwnErase) {
    Bench bench(Options("MN6", 9000, {Fault(Phase::kBlock, FaultKind::kNak, sim::kForever, 3)}));
    bench.Start();
    ASSERT_EQ(bench.outcome.kind, OutcomeKind::FailedAfterErase);
    ASSERT_TRUE(bench.outcome.erased);

    // The cable is pulled before the next Start: nothing is asked of the controller.
    bench.OpenWith([] { return &ClosedDevice(); });
    bench.Start();
    EXPECT_EQ(bench.Final().text, "CANNOT open COM3 Port!!!");
    EXPECT_EQ(bench.outcome.kind, OutcomeKind::PortNotOpened);
    EXPECT_FALSE(bench.outcome.erased);
}

TEST(Scenario, ControllerThatNeverLeavesItsApplicationIsAskedAgainUntilCancelled) {
    struct Case {
        const char* model;
        uint32_t length;
        size_t prompts;      // prompts shown, the cancelled one included
        const char* ending;  // the last operator calls
    };
    for (const Case& c : {Case{"ZL500-AIO", 11056, 4, "CMTE"}, Case{"RV7-G", 9000, 4, "CMTE"},
                          Case{"MN6", 9000, 0, "WTEC"}}) {
        BenchOptions o = Options(c.model, c.length);
        o.faults.stayInApplication = true;
        o.promptsBeforeCancel = 4;
        Bench bench(o);
        bench.Start();
        EXPECT_EQ(bench.reconnects, 4) << c.model;
        EXPECT_EQ(bench.controller.requests(Phase::kUpdateRequest), 4u) << c.model;
        EXPECT_EQ(bench.op.Messages().size(), c.prompts) << c.model;  // no final message
        EXPECT_TRUE(bench.finalMessages.empty()) << c.model;
        EXPECT_EQ(bench.controller.eraseSteps(), 0u);
        const std::string seq = bench.op.Sequence();
        EXPECT_EQ(seq.substr(seq.size() - 4), c.ending) << c.model;
        EXPECT_EQ(bench.update.figures.flashStatus, 0);
        EXPECT_FALSE(bench.link.IsOpen());
        EXPECT_EQ(bench.outcome.kind, OutcomeKind::Cancelled) << c.model;
        EXPECT_FALSE(bench.outcome.shown()) << c.model;
        EXPECT_FALSE(bench.outcome.erased) << c.model;
    }
}

TEST(Scenario, APickedFileChangesNothingOfTheRunningUpdate) {
    Bench bench(Options("MN6", 9000));
    auto wait = bench.op.onWait;
    TestImage other(123, 5);
    bench.op.onWait = [&](int s) {
        // A Browse meanwhile gives the front end another file: the next update's, not this one's.
        bench.update.image = other.Span();
        return wait(s);
    };
    bench.Start();
    EXPECT_EQ(bench.Final().text, "Firmware update is SUCCESSFUL");
    EXPECT_TRUE(bench.FlashMatchesImage());
}

TEST(Scenario, WorkerOnItsOwnThreadWhileThePanelReadsTheFigures) {
    Bench bench(Options("ZL500", 4096 + 256 * 400));
    std::atomic<bool> done{false};
    int maxProgress = 0;
    Figures& figures = bench.update.figures;
    std::thread painter([&] {
        while (!done.load()) {
            const int p = figures.progress;
            maxProgress = p > maxProgress ? p : maxProgress;
            (void)figures.flashStatus.load();
            (void)figures.errCounter.load();
            (void)figures.totalErrCounter.load();
            (void)figures.done.load();
            (void)figures.total.load();
            figures.elapsedTime += 1;  // timer 5 ticks on the window thread
            std::this_thread::yield();
        }
    });
    std::thread worker([&] { bench.Start(); });
    worker.join();
    done = true;
    painter.join();
    EXPECT_EQ(bench.Final().text, "Firmware update is SUCCESSFUL!, please REPLUG the USB cable");
    EXPECT_TRUE(bench.FlashMatchesImage());
    EXPECT_LE(maxProgress, 100);
}

}  // namespace
}  // namespace fwburn::test

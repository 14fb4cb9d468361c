// The window's Start command: only a click of Start Burn starts; one worker at a time; a stand-in
// build asks first and starts nothing on No; a worker that cannot start leaves nothing running
// and says so.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/job_state.hpp"
#include "ui/win32/start_command.hpp"

namespace fwburn {
namespace {

class RecordingActions final : public StartActions {
  public:
    bool threadStarts = true;
    bool answerYes = false;
    std::vector<std::string> calls;

    void EnableStart(bool enabled) override { calls.push_back(enabled ? "enable" : "disable"); }
    void StartElapsedTimer() override { calls.push_back("timer on"); }
    void StopElapsedTimer() override { calls.push_back("timer off"); }
    bool ConfirmStandIn() override {
        // The question is asked with the flag already claimed: no second Start slips in.
        calls.push_back(std::string("stand-in question") + (WorkerRunning() ? " (claimed)" : ""));
        return answerYes;
    }
    bool StartWorker(bool standInAllowed) override {
        calls.push_back(standInAllowed ? "worker, stand-in allowed" : "worker");
        return threadStarts;
    }
    void ShowError(const char* caption, const char* text) override {
        calls.push_back(std::string("message ") + caption + ": " + text);
    }
};

class StartCommandTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetJobState(); }
    void TearDown() override { ResetJobState(); }
};

using Calls = std::vector<std::string>;

TEST_F(StartCommandTest, OnlyAClickOfTheButtonStartsAndAStandInAsksFirst) {
    const struct {
        const char* name;
        StartOrigin origin;
        bool standIn;
        bool answerYes;
        StartOutcome outcome;
        Calls calls;
        bool workerClaimed;
    } cases[] = {
        {"click, real image",
         {0, true},
         false,
         false,
         StartOutcome::Started,
         Calls{"disable", "timer on", "worker"},
         true},
        {"click, stand-in, Yes",
         {0, true},
         true,
         true,
         StartOutcome::Started,
         Calls{"stand-in question (claimed)", "disable", "timer on", "worker, stand-in allowed"},
         true},
        // No: the button stays enabled, the timer never runs, the flag is free again.
        {"click, stand-in, No",
         {0, true},
         true,
         false,
         StartOutcome::Declined,
         Calls{"stand-in question (claimed)"},
         false},
        {"command 2 from no control",
         {0, false},
         false,
         true,
         StartOutcome::NotAClick,
         Calls{},
         false},
        {"another notification", {5, true}, true, true, StartOutcome::NotAClick, Calls{}, false},
    };
    for (const auto& c : cases) {
        ResetJobState();
        RecordingActions actions;
        actions.answerYes = c.answerYes;
        EXPECT_EQ(StartCommand(c.origin, c.standIn, actions), c.outcome) << c.name;
        EXPECT_EQ(actions.calls, c.calls) << c.name;
        EXPECT_EQ(WorkerRunning(), c.workerClaimed) << c.name;
    }
}

TEST_F(StartCommandTest, ASecondStartWhileAWorkerRunsIsRefused) {
    RecordingActions first;
    ASSERT_EQ(StartCommand({0, true}, false, first), StartOutcome::Started);
    RecordingActions second;
    second.answerYes = true;
    EXPECT_EQ(StartCommand({0, true}, true, second), StartOutcome::Busy);
    EXPECT_TRUE(second.calls.empty());  // not queued, nothing touched, nothing asked
    ReleaseWorker();                    // the worker's last step
    RecordingActions third;
    EXPECT_EQ(StartCommand({0, true}, false, third), StartOutcome::Started);
}

TEST_F(StartCommandTest, AWorkerThatCannotStartLeavesNothingRunning) {
    elapsedTime = 3;
    RecordingActions actions;
    actions.threadStarts = false;
    EXPECT_EQ(StartCommand({0, true}, false, actions), StartOutcome::ThreadFailed);
    EXPECT_EQ(actions.calls, (Calls{"disable", "timer on", "worker", "timer off", "enable",
                                    "message ERROR: CANNOT start the update"}));
    EXPECT_EQ(elapsedTime.load(), 0);
    EXPECT_FALSE(WorkerRunning());  // the next click can start again
    actions.threadStarts = true;
    actions.calls.clear();
    EXPECT_EQ(StartCommand({0, true}, false, actions), StartOutcome::Started);
}

}  // namespace
}  // namespace fwburn

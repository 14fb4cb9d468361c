// The window's Start command: only a click of Start Burn starts, never Escape; one worker at a
// time; a worker that cannot start leaves nothing running and says so.
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
    std::vector<std::string> calls;

    void EnableStart(bool enabled) override { calls.push_back(enabled ? "enable" : "disable"); }
    void StartElapsedTimer() override { calls.push_back("timer on"); }
    void StopElapsedTimer() override { calls.push_back("timer off"); }
    bool StartWorker() override {
        calls.push_back("worker");
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

TEST_F(StartCommandTest, OnlyAClickOfTheButtonStarts) {
    const struct {
        const char* name;
        StartOrigin origin;
        StartOutcome outcome;
    } cases[] = {
        {"click", {0, true, false}, StartOutcome::Started},
        {"Escape (IDCANCEL, sent as from the button)", {0, true, true}, StartOutcome::NotAClick},
        {"command 2 from no control", {0, false, false}, StartOutcome::NotAClick},
        {"another notification", {5, true, false}, StartOutcome::NotAClick},
    };
    for (const auto& c : cases) {
        ResetJobState();
        RecordingActions actions;
        EXPECT_EQ(StartCommand(c.origin, actions), c.outcome) << c.name;
        if (c.outcome == StartOutcome::Started) {
            EXPECT_EQ(actions.calls, (std::vector<std::string>{"disable", "timer on", "worker"}))
                << c.name;
            EXPECT_TRUE(WorkerRunning()) << c.name;
        } else {
            EXPECT_TRUE(actions.calls.empty()) << c.name;
            EXPECT_FALSE(WorkerRunning()) << c.name;
        }
    }
}

TEST_F(StartCommandTest, ASecondStartWhileAWorkerRunsIsRefused) {
    RecordingActions first;
    ASSERT_EQ(StartCommand({0, true, false}, first), StartOutcome::Started);
    RecordingActions second;
    EXPECT_EQ(StartCommand({0, true, false}, second), StartOutcome::Busy);
    EXPECT_TRUE(second.calls.empty());  // not queued, nothing touched
    ReleaseWorker();                    // the worker's last step
    RecordingActions third;
    EXPECT_EQ(StartCommand({0, true, false}, third), StartOutcome::Started);
}

TEST_F(StartCommandTest, AWorkerThatCannotStartLeavesNothingRunning) {
    elapsedTime = 3;
    RecordingActions actions;
    actions.threadStarts = false;
    EXPECT_EQ(StartCommand({0, true, false}, actions), StartOutcome::ThreadFailed);
    EXPECT_EQ(actions.calls,
              (std::vector<std::string>{"disable", "timer on", "worker", "timer off", "enable",
                                        "message ERROR: CANNOT start the update"}));
    EXPECT_EQ(elapsedTime.load(), 0);
    EXPECT_FALSE(WorkerRunning());  // the next click can start again
    actions.threadStarts = true;
    actions.calls.clear();
    EXPECT_EQ(StartCommand({0, true, false}, actions), StartOutcome::Started);
}

}  // namespace
}  // namespace fwburn

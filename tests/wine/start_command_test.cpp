// The window's Start command: only a click of Start Burn starts; one worker at a time; a stand-in
// build asks first and starts nothing on No; a worker that cannot start leaves nothing running
// and says so.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/win32/start_command.hpp"

namespace fwburn {
namespace {

class RecordingActions final : public StartActions {
  public:
    explicit RecordingActions(const WorkerFlag& worker) : worker_(worker) {}

    bool threadStarts = true;
    bool answerYes = false;
    std::vector<std::string> calls;

    void EnableStart(bool enabled) override { calls.push_back(enabled ? "enable" : "disable"); }
    void StartElapsedTimer() override { calls.push_back("timer on"); }
    void StopElapsedTimer() override { calls.push_back("timer off"); }
    bool ConfirmStandIn() override {
        // The question is asked with the flag already claimed: no second Start slips in.
        calls.push_back(std::string("stand-in question") + (worker_.Claimed() ? " (claimed)" : ""));
        return answerYes;
    }
    bool StartWorker(bool standInAllowed) override {
        calls.push_back(standInAllowed ? "worker, stand-in allowed" : "worker");
        return threadStarts;
    }
    void ShowError(const char* caption, const char* text) override {
        calls.push_back(std::string("message ") + caption + ": " + text);
    }

  private:
    const WorkerFlag& worker_;
};

using Calls = std::vector<std::string>;

TEST(StartCommandTest, OnlyAClickOfTheButtonStartsAndAStandInAsksFirst) {
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
        WorkerFlag worker;
        Figures figures;
        RecordingActions actions(worker);
        actions.answerYes = c.answerYes;
        EXPECT_EQ(StartCommand(c.origin, c.standIn, worker, figures, actions), c.outcome) << c.name;
        EXPECT_EQ(actions.calls, c.calls) << c.name;
        EXPECT_EQ(worker.Claimed(), c.workerClaimed) << c.name;
    }
}

TEST(StartCommandTest, ASecondStartWhileAWorkerRunsIsRefused) {
    WorkerFlag worker;
    Figures figures;
    RecordingActions first(worker);
    ASSERT_EQ(StartCommand({0, true}, false, worker, figures, first), StartOutcome::Started);
    RecordingActions second(worker);
    second.answerYes = true;
    EXPECT_EQ(StartCommand({0, true}, true, worker, figures, second), StartOutcome::Busy);
    EXPECT_TRUE(second.calls.empty());  // not queued, nothing touched, nothing asked
    worker.Release();                   // the worker's last step
    RecordingActions third(worker);
    EXPECT_EQ(StartCommand({0, true}, false, worker, figures, third), StartOutcome::Started);
}

TEST(StartCommandTest, AWorkerThatCannotStartLeavesNothingRunning) {
    WorkerFlag worker;
    Figures figures;
    figures.elapsedTime = 3;
    RecordingActions actions(worker);
    actions.threadStarts = false;
    EXPECT_EQ(StartCommand({0, true}, false, worker, figures, actions), StartOutcome::ThreadFailed);
    EXPECT_EQ(actions.calls, (Calls{"disable", "timer on", "worker", "timer off", "enable",
                                    "message ERROR: CANNOT start the update"}));
    EXPECT_EQ(figures.elapsedTime.load(), 0);
    EXPECT_FALSE(worker.Claimed());  // the next click can start again
    actions.threadStarts = true;
    actions.calls.clear();
    EXPECT_EQ(StartCommand({0, true}, false, worker, figures, actions), StartOutcome::Started);
}

}  // namespace
}  // namespace fwburn

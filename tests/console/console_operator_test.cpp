// The console's operator: what it asks, what it answers by itself, when it gives up. First on its
// own with a scripted front end, then driving the real worker against the in-process simulator.
#include "ui/console/session/console_operator.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "burn/burn.hpp"
#include "catalogue/catalogue.hpp"
#include "tests/e2e/bench.hpp"
#include "tests/support/fake_device.hpp"
#include "ui/console/show/diagnosis.hpp"

namespace fwburn::console {
namespace {

using Step = ReconnectLimit::Step;

// A run of reconnect steps, P for a prompt and W for a wait, and what each must do: a ask,
// c continue, g give up.
struct LimitCase {
    bool yes;
    const char* events;
    const char* steps;
};

class ReconnectLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ReconnectLimitTest, DecidesEachStep) {
    ReconnectLimit limit(GetParam().yes);
    std::string steps;
    for (const char* e = GetParam().events; *e != '\0'; ++e) {
        const Step s = *e == 'P' ? limit.OnPrompt() : limit.OnWait();
        steps += s == Step::kAsk ? 'a' : s == Step::kContinue ? 'c' : 'g';
    }
    EXPECT_EQ(steps, GetParam().steps) << GetParam().events;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReconnectLimitTest,
    ::testing::Values(
        // --yes: three prompts (each with its wait) answered, the fourth refused.
        LimitCase{true, "PWPWPWP", "ccccccg"},
        // Without --yes the person decides every time.
        LimitCase{false, "PWPWPWPWPW", "acacacacac"},
        // Waits on their own are requests nobody answers: the limit holds either way.
        LimitCase{false, "WWWW", "cccg"}, LimitCase{true, "WWWW", "cccg"},
        // A wait after a prompt belongs to it and is not counted again.
        LimitCase{true, "PWWWP", "ccccg"}),
    [](const ::testing::TestParamInfo<LimitCase>& row) {
        return std::string(row.param.yes ? "yes_" : "asked_") + row.param.events;
    });

// Records what reaches the main thread and answers as the test says.
class ScriptedFrontEnd : public FrontEnd {
  public:
    Answer answer = Answer::Ok;
    std::vector<std::string> log;   // what the operator asks and tells, progress aside
    std::vector<Request> progress;  // the progress events, in order
    Request final;                  // the last final message
    std::function<void(int seconds)> onSleep = [](int) {};
    std::function<void()> onPrompt = [] {};

    Answer Send(Request r) override {
        switch (r.kind) {
            case Request::kAsk:
            case Request::kAnswered:
                log.push_back((r.kind == Request::kAsk ? "ask" : "auto") +
                              std::to_string(r.number) + ":" + r.text);
                onPrompt();
                return r.kind == Request::kAsk ? answer : Answer::Ok;
            case Request::kFinal:
                log.push_back(std::string("final:") + r.outcome.caption + ": " + r.outcome.text);
                final = r;
                break;
            case Request::kGaveUp:
                log.push_back("gave-up:" + std::to_string(r.number));
                break;
            case Request::kWaiting:
                log.push_back("wait:" + std::to_string(r.number));
                break;
            case Request::kOpened:
                log.push_back((r.reopen ? "reopened:" : "opened:") + r.text);
                break;
            case Request::kOpenFailed:
                log.push_back((r.reopen ? "reopen-failed:" : "open-failed:") + r.text);
                break;
            case Request::kStopTimer:
                log.push_back("stop-timer");
                break;
            case Request::kPhase:
            case Request::kAdvanced:
            case Request::kRetried:
                progress.push_back(r);
                break;
            case Request::kDone:
                log.push_back("done");
                break;
        }
        return Answer::Ok;
    }
    void Sleep(int seconds) override { onSleep(seconds); }

    std::vector<std::string> Finals() const {
        std::vector<std::string> out;
        for (const std::string& l : log) {
            if (l.rfind("final:", 0) == 0) {
                out.push_back(l);
            }
        }
        return out;
    }
};

class ScriptedLink : public Link {
  public:
    std::vector<Device*> devices;  // handed out in turn; nullptr fails
    std::string failure = "/dev/x: in use by another program";
    std::vector<Device*> closed;

    Device* Open(bool, std::string& why) override {
        Device* d = next_ < devices.size() ? devices[next_] : nullptr;
        ++next_;
        if (d == nullptr) {
            why = failure;
        }
        return d;
    }
    void Close(Device* device) override { closed.push_back(device); }
    std::string OpenedPath() const override { return "/dev/x"; }

  private:
    size_t next_ = 0;
};

TEST(ConsoleOperatorTest, FinalMessagesAreShownNotAsked) {
    ScriptedFrontEnd fe;
    ScriptedLink link;
    ConsoleOperator op(fe, link, false);
    UpdateOutcome outcome;
    outcome.kind = OutcomeKind::ControllerRefused;
    outcome.caption = "ERROR";
    std::snprintf(outcome.text, sizeof outcome.text, "PLC type is WRONG");
    op.ShowOutcome(outcome);
    EXPECT_EQ(fe.log, std::vector<std::string>{"final:ERROR: PLC type is WRONG"});
}

TEST(ConsoleOperatorTest, BothReconnectPromptsAreAskedAndEndOfInputCancels) {
    const std::pair<ReconnectKind, const char*> prompts[] = {
        {ReconnectKind::ReplugUsb, kReplugPrompt}, {ReconnectKind::PowerCycle, kPowerCyclePrompt}};
    for (const auto& [kind, prompt] : prompts) {
        ScriptedFrontEnd fe;
        ScriptedLink link;
        ConsoleOperator op(fe, link, false);
        EXPECT_EQ(op.Prompt(kind, "Information", prompt), Answer::Ok);
        fe.answer = Answer::Cancel;
        EXPECT_EQ(op.Prompt(kind, "Information", prompt), Answer::Cancel);
        // Shown with the console's wording: Enter, not the window's OK button.
        const std::string shown = ConsoleWording(prompt);
        EXPECT_EQ(shown.find("press OK"), std::string::npos);
        EXPECT_EQ(fe.log, (std::vector<std::string>{"ask1:" + shown, "ask2:" + shown}));
    }
}

TEST(ConsoleOperatorTest, YesAnswersThreeRequestsAndRefusesTheFourth) {
    ScriptedFrontEnd fe;
    ScriptedLink link;
    ConsoleOperator op(fe, link, true);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(op.Prompt(ReconnectKind::ReplugUsb, "Information", kReplugPrompt), Answer::Ok);
        EXPECT_EQ(op.WaitSeconds(5), Answer::Ok);
    }
    EXPECT_EQ(op.Prompt(ReconnectKind::ReplugUsb, "Information", kReplugPrompt), Answer::Cancel);
    EXPECT_EQ(fe.log.back(), "gave-up:3");
    EXPECT_EQ(fe.log[0], "auto1:Please REPLUG the USB Cable, and then press Enter to continue");
    EXPECT_EQ(fe.log[1], "wait:5");
}

TEST(ConsoleOperatorTest, OpenFailuresAreReportedAndGiveTheClosedDevice) {
    ScriptedFrontEnd fe;
    ScriptedLink link;
    test::FakeDevice device;
    link.devices = {&device, nullptr};
    ConsoleOperator op(fe, link, true);
    EXPECT_EQ(op.OpenUsb(), &device);
    op.Close(&device);
    EXPECT_EQ(op.OpenSerial("pts/3"), &ClosedDevice());
    op.Close(&ClosedDevice());  // the worker closes whatever it holds
    EXPECT_EQ(fe.log, (std::vector<std::string>{
                          "opened:/dev/x", "reopen-failed:/dev/x: in use by another program"}));
    EXPECT_EQ(link.closed, std::vector<Device*>{&device});
}

// The real worker with this operator, against the e2e bench's simulated controller on its
// virtual clock. Closing and reopening the link around a prompt is the replug, as on a
// pseudo-terminal.
class WorkerRun {
  public:
    WorkerRun(const char* model, uint32_t imageLength, sim::Faults faults, bool yes)
        : bench_(Options(model, imageLength, std::move(faults))),
          simLink_(bench_.link),
          op_(frontEnd, simLink_, yes) {
        const int row = FindModelRow(model);
        bench_.image.Job(bench_.update, op_, row, IsUsbLinked(row) ? "USB" : "pts/3");
        bench_.update.sink = &op_;
        frontEnd.onSleep = [this](int s) { bench_.link.AdvanceMs(int64_t{s} * 1000); };
        frontEnd.onPrompt = [this, row] {
            if (ReconnectFor(row).kind == ReconnectKind::PowerCycle) {
                bench_.link.PowerCycle();
            } else {
                bench_.link.Replug();
            }
        };
    }

    UpdateOutcome Run() { return StartBurn(bench_.update); }

    bool FlashMatches() const { return bench_.FlashMatchesImage(); }

    // Every open after the first fails so, when set: the controller does not come back, or its
    // port may not be opened.
    void FailReopens(const std::string& why, bool denied) {
        simLink_.reopenFailure = why;
        simLink_.reopenDenied = denied;
    }

    ScriptedFrontEnd frontEnd;
    const sim::Controller& controller() const { return bench_.controller; }

  private:
    class SimLinkAdapter : public Link {
      public:
        explicit SimLinkAdapter(sim::SimLink& link) : link_(link) {}
        Device* Open(bool, std::string& failure) override {
            denied_ = false;
            if (opens_++ > 0 && !reopenFailure.empty()) {
                failure = reopenFailure;
                denied_ = reopenDenied;
                return nullptr;
            }
            if (link_.Open()) {
                return &link_;
            }
            failure = "sim: busy";
            return nullptr;
        }
        void Close(Device*) override { link_.Close(); }
        std::string OpenedPath() const override { return "sim"; }
        bool LastOpenDenied() const override { return denied_; }

        std::string reopenFailure;
        bool reopenDenied = false;

      private:
        sim::SimLink& link_;
        int opens_ = 0;
        bool denied_ = false;
    };

    static test::BenchOptions Options(const char* model, uint32_t length, sim::Faults faults) {
        test::BenchOptions o = test::Options(model, length);
        o.faults = std::move(faults);
        return o;
    }

    test::Bench bench_;
    SimLinkAdapter simLink_;
    ConsoleOperator op_;
};

// The controller answered and accepted the update request; the reopen after the replug fails.
// The console says that, with the reopen's reason, and the access hint where it was denied.
TEST(ConsoleWorkerTest, AFailedReopenIsDiagnosedAsSuch) {
    struct ReopenCase {
        const char* why;
        bool denied;
        const char* finding;
        std::vector<const char*> says;
    };
    const ReopenCase cases[] = {
        {"/dev/ttyACM0: No such file or directory",
         false,
         "not-reopened",
         {"could not be opened again (/dev/ttyACM0: No such file or directory)", "the cable",
          "nothing was erased"}},
        {"/dev/ttyACM0: in use by another program (term, process 4242)",
         false,
         "not-reopened",
         {"could not be opened again (/dev/ttyACM0: in use by another program (term, process "
          "4242)): check that the PLC came back (the cable, its power) and that no other program "
          "holds its port",
          "nothing was erased"}},
        {"/dev/ttyACM0: permission denied",
         true,
         "permission-denied",
         {"may not be opened again (/dev/ttyACM0: permission denied)", "70-fwburn.rules",
          "nothing was erased"}},
    };
    for (const ReopenCase& c : cases) {
        SCOPED_TRACE(c.why);
        WorkerRun run("ZL500", 40000, {}, true);
        run.FailReopens(c.why, c.denied);
        EXPECT_EQ(run.Run().kind, OutcomeKind::CommunicationFailed);
        EXPECT_EQ(run.frontEnd.Finals(),
                  std::vector<std::string>{"final:ERROR: NO RESPONSE @ State 1"});
        const Request& final = run.frontEnd.final;
        const Explanation e = Explain(final.outcome, FindModelRow("ZL500"), BootIdRule::Cpu,
                                      final.denied, final.openFailure);
        EXPECT_EQ(e.finding, c.finding);
        for (const char* part : c.says) {
            EXPECT_NE(e.text.find(part), std::string::npos) << e.text << "\nlacks: " << part;
        }
        EXPECT_GT(e.bytesReceived, 0);  // what the controller answered before the replug
        EXPECT_EQ(run.controller().requests(sim::Phase::kUpdateRequest), 1u);
        EXPECT_EQ(run.controller().requests(sim::Phase::kEraseStep), 0u);  // as the text says
    }
}

TEST(ConsoleWorkerTest, SerialModelThatRestartsAloneNeedsNoAnswer) {
    WorkerRun run("TQ38", 40000, {}, false);
    EXPECT_EQ(run.Run().kind, OutcomeKind::Success);
    EXPECT_EQ(run.frontEnd.Finals(),
              std::vector<std::string>{"final:INFORMATION: Firmware update is SUCCESSFUL"});
    EXPECT_TRUE(run.FlashMatches());
    for (const std::string& line : run.frontEnd.log) {
        EXPECT_NE(line.rfind("ask", 0), 0u) << line;
    }
}

}  // namespace
}  // namespace fwburn::console

namespace fwburn::console {
namespace {

std::vector<std::string> Events(const std::vector<Request>& progress) {
    std::vector<std::string> out;
    for (const Request& r : progress) {
        const std::string phase = std::to_string(static_cast<int>(r.phase));
        if (r.kind == Request::kPhase) {
            out.push_back("phase" + phase + ":" + std::to_string(r.total));
        } else if (r.kind == Request::kAdvanced) {
            out.push_back(phase + ":" + std::to_string(r.done) + "/" + std::to_string(r.total) +
                          "@" + std::to_string(r.percent));
        } else {
            out.push_back("retry" + phase + ":" + std::to_string(r.errCounter) + "/" +
                          std::to_string(r.totalErrCounter));
        }
    }
    return out;
}

// The operator passes on every event of the worker, in order, with its exact figures.
TEST(ConsoleWorkerTest, EveryStepAndBlockReachesTheMainThread) {
    WorkerRun run("ZL500-AIO", 11056, {}, true);
    EXPECT_EQ(run.Run().kind, OutcomeKind::Success);
    std::vector<std::string> expected = {"phase0:0", "phase1:6"};
    for (uint32_t k = 0; k < 6; ++k) {
        expected.push_back("1:" + std::to_string(k + 1) + "/6@" + std::to_string(k * 100 / 6));
    }
    expected.push_back("1:6/6@100");
    expected.push_back("phase2:44");
    for (uint32_t i = 1; i <= 44; ++i) {
        expected.push_back("2:" + std::to_string(i) + "/44@" + std::to_string(i * 100 / 45));
    }
    expected.push_back("2:44/44@100");
    EXPECT_EQ(Events(run.frontEnd.progress), expected);
}

// Block 101 is never taken: the last count is 100, and each failed attempt is told with both
// counters.
TEST(ConsoleWorkerTest, ABlockNeverTakenLeavesTheCountOfTheBlocksBefore) {
    sim::Faults f;
    f.replies.push_back(sim::ReplyFault{sim::Phase::kBlock, sim::FaultKind::kNak, 100});
    WorkerRun run("ZL500-AIO", 40000, f, true);
    const UpdateOutcome outcome = run.Run();
    EXPECT_EQ(outcome.kind, OutcomeKind::FailedAfterErase);
    EXPECT_TRUE(outcome.erased);
    const std::vector<std::string> events = Events(run.frontEnd.progress);
    const auto lastStep = std::find_if(events.rbegin(), events.rend(),
                                       [](const std::string& e) { return e.rfind("2:", 0) == 0; });
    ASSERT_NE(lastStep, events.rend());
    EXPECT_EQ(lastStep->substr(0, lastStep->find('/')), "2:100");
    std::vector<std::string> retries(lastStep.base(), events.end());
    ASSERT_FALSE(retries.empty());
    for (size_t i = 0; i < retries.size(); ++i) {
        EXPECT_EQ(retries[i], "retry2:" + std::to_string(i + 1) + "/" + std::to_string(i + 1));
    }
}

}  // namespace
}  // namespace fwburn::console

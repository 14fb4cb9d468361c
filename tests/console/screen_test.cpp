// What the console prints, in each of its three modes, for samples fed through the tracker.
#include "ui/console/show/screen.hpp"

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/console/screen_fixture.hpp"
#include "ui/console/session/console_operator.hpp"

namespace fwburn::console {
namespace {

using namespace fixture;

// Python's json module, strict about what it accepts, reads every line: true when each one is a
// JSON object. Python is there already: the build runs it.
bool EveryLineIsAJsonObject(const std::string& lines, std::string& complaint) {
    char path[] = "/tmp/fwburn-json-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        complaint = "mkstemp failed";
        return false;
    }
    static_cast<void>(write(fd, lines.data(), lines.size()));
    close(fd);
    const std::string command =
        std::string(
            "python3 -c 'import json, sys\n"
            "for n, line in enumerate(open(sys.argv[1], encoding=\"utf-8\")):\n"
            "    assert isinstance(json.loads(line), dict), n' ") +
        path + " 2>&1";
    std::FILE* p = popen(command.c_str(), "r");
    char buffer[512];
    while (p != nullptr && std::fgets(buffer, sizeof buffer, p) != nullptr) {
        complaint += buffer;
    }
    const int status = p != nullptr ? pclose(p) : -1;
    unlink(path);
    return status == 0;
}

TEST(JsonValidityTest, TheCheckRefusesWhatIsNotOneObjectPerLine) {
    std::string why;
    EXPECT_TRUE(EveryLineIsAJsonObject("{\"a\":[1,null,\"x\\u0041\"]}\n{}\n", why)) << why;
    for (const char* bad : {"{\"a\":1\n", "{\"a\":1}{\"b\":2}\n", "{\"a\":\"tab\there\"}\n",
                            "[1]\n", "{\"a\":\"\\x\"}\n"}) {
        EXPECT_FALSE(EveryLineIsAJsonObject(bad, why)) << bad;
    }
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

Request Phased(Phase phase, uint32_t total) {
    Request r;
    r.kind = Request::kPhase;
    r.phase = phase;
    r.total = total;
    return r;
}

Request Step(Phase phase, uint32_t done, uint32_t total, int32_t percent) {
    Request r;
    r.kind = Request::kAdvanced;
    r.phase = phase;
    r.done = done;
    r.total = total;
    r.percent = percent;
    return r;
}

Request Retry(Phase phase, int32_t errCounter, int32_t totalErrCounter) {
    Request r;
    r.kind = Request::kRetried;
    r.phase = phase;
    r.errCounter = errCounter;
    r.totalErrCounter = totalErrCounter;
    return r;
}

Request Final(const UpdateOutcome& outcome) {
    Request r;
    r.kind = Request::kFinal;
    r.outcome = outcome;
    return r;
}

// A screen in one of its forms, fed with the worker's requests as the main loop feeds it.
class ScreenRun {
  public:
    explicit ScreenRun(ScreenMode mode, int columns = 80)
        : screen_(Screen::Make(mode, io_.out, io_.err, [columns] { return columns; })),
          tracker_(256) {
        screen_->Start(Info("ZL500_\"quoted\"\\name.bin"));
    }

    Screen& screen() { return *screen_; }
    // A request `step` seconds after the one before; `tick`: the 100 ms tick follows it.
    void Send(const Request& r, double step = 0.1, bool tick = true) {
        now_ += step;
        EXPECT_TRUE(Present(*screen_, tracker_, r, now_));
        if (tick) {
            screen_->Tick(tracker_.At(now_));
        }
    }
    void Finish(const UpdateOutcome& outcome) {
        Send(Final(outcome), 0.1, false);  // the figures are cleared after it: no more ticks
        screen_->Restore();
        out = io_.Out();
        err = io_.Err();
    }

    // One update's worth of output: a retry while checking, a prompt answered by --yes, the erase
    // step by step, the transfer block by block, and the final message.
    void Update(const UpdateOutcome& outcome) {
        screen_->Opened("/dev/pts/9", false);
        Send(Phased(Phase::Checking, 0));
        Send(Retry(Phase::Checking, 1, 1));
        screen_->Prompt("Information", "Please REPLUG the USB Cable, and then press OK to continue",
                        false, 1);
        screen_->Waiting(5);
        screen_->Opened("/dev/pts/9", true);
        Send(Phased(Phase::Erasing, 506));
        for (uint32_t k = 0; k < 506; ++k) {
            Send(Step(Phase::Erasing, k + 1, 506, static_cast<int32_t>(k * 100 / 506)));
        }
        Send(Step(Phase::Erasing, 506, 506, 100));
        Send(Phased(Phase::Programming, 8096));
        for (uint32_t i = 1; i <= 8096; ++i) {
            Send(Step(Phase::Programming, i, 8096, static_cast<int32_t>(i * 100 / 8097)));
        }
        Send(Step(Phase::Programming, 8096, 8096, 100));
        Finish(outcome);
    }

    std::string out;
    std::string err;

  private:
    Captured io_;
    std::unique_ptr<Screen> screen_;
    ProgressTracker tracker_;
    double now_ = 0;
};

constexpr char kSuccess[] = "Firmware update is SUCCESSFUL!, please REPLUG the USB cable";

TEST(ScreenTest, PlainModeWritesWholeLinesAndATenthAtATime) {
    ScreenRun run(ScreenMode::kPlain);
    run.Update(Outcome(OutcomeKind::Success, "Information", kSuccess, true));
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_EQ(run.out.find('\033'), std::string::npos);
    EXPECT_EQ(Count(run.out, "\nErasing: 506 steps\n"), 1u);
    EXPECT_EQ(Count(run.out, "\nProgramming: 8096 blocks of 256 bytes\n"), 1u);
    EXPECT_EQ(Count(run.out, "Programming: "), 1u + 11u);  // the start, 0% to 100% by tenths
    EXPECT_EQ(Count(run.out, "Erasing: 100%, 506/506 steps"), 1u);
    EXPECT_EQ(Count(run.out, "Programming: 100%, 8096/8096 blocks"), 1u);
    EXPECT_EQ(Count(run.out, "Retry: 1 in this command, 1 in all"), 1u);
    EXPECT_NE(run.out.find("Port: /dev/pts/9\n"), std::string::npos);
    EXPECT_NE(run.out.find("Port reopened: /dev/pts/9\n"), std::string::npos);
    EXPECT_NE(run.out.find(" (2076672 bytes); TEST BUILD: STAND-IN IMAGE\n"), std::string::npos);
    // Success on stdout, as the last line; the prompt on stderr.
    EXPECT_EQ(Lines(run.out).back(), std::string("Information: ") + kSuccess);
    EXPECT_NE(run.err.find("Information: Please REPLUG the USB Cable"), std::string::npos);
    EXPECT_EQ(run.err.find(kSuccess), std::string::npos);
}

TEST(ScreenTest, ErrorsGoToStderr) {
    ScreenRun run(ScreenMode::kPlain);
    run.Update(Outcome(OutcomeKind::FailedAfterErase, "ERROR", "Firmware update is FAILED", true));
    EXPECT_EQ(Lines(run.err).back(), "ERROR: Firmware update is FAILED");
    EXPECT_EQ(run.out.find("Firmware update is FAILED"), std::string::npos);
}

TEST(ScreenTest, JsonModeKeepsStdoutToOneValidObjectPerLine) {
    ScreenRun run(ScreenMode::kJson);
    UpdateOutcome outcome = Outcome(OutcomeKind::Success, "Information", kSuccess, true);
    outcome.surplusBytes = 3;  // replies beyond one per request, dropped during the transfer
    run.Update(outcome);
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_FALSE(lines.empty());
    std::string why;
    EXPECT_TRUE(EveryLineIsAJsonObject(run.out, why)) << why << run.out;
    EXPECT_EQ(run.out.back(), '\n');
    EXPECT_EQ(lines.front().rfind(R"({"event":"start","program":"fwburn-cpu-cli")", 0), 0u);
    EXPECT_NE(lines.front().find(R"("image":"ZL500_\"quoted\"\\name.bin")"), std::string::npos);
    EXPECT_NE(lines.front().find(R"("standIn":true,"notice":"TEST BUILD: STAND-IN IMAGE")"),
              std::string::npos);
    EXPECT_EQ(lines.back(),
              std::string(R"({"event":"outcome","caption":"Information","text":")") + kSuccess +
                  R"(","exitCode":0,"result":"success","erased":true,"surplusBytes":3,"elapsed":)" +
                  lines.back().substr(lines.back().rfind(':') + 1));
    // One event per percent of each phase, from 0 to 100, with the exact count at each.
    EXPECT_EQ(Count(run.out, R"("event":"progress","phase":"program")"), 101u);
    EXPECT_EQ(Count(run.out, R"("event":"progress","phase":"erase")"), 101u);
    EXPECT_EQ(Count(run.out, R"("phase":"program","percent":1,"done":81,)"), 1u);
    EXPECT_EQ(Count(run.out, R"("phase":"erase","percent":1,"done":7,)"), 1u);
    EXPECT_EQ(Count(run.out, R"("event":"phase")"), 2u);
    EXPECT_EQ(
        Count(run.out, R"({"event":"retry","phase":"check","errCounter":1,"totalErrCounter":1)"),
        1u);
    EXPECT_EQ(Count(run.out, R"("event":"prompt","caption":"Information")"), 1u);
    EXPECT_EQ(Count(run.out, R"({"event":"wait","seconds":5})"), 1u);
    // The people's lines go to stderr, the outcome among them.
    EXPECT_EQ(Lines(run.err).back(), std::string("Information: ") + kSuccess);
}

TEST(ScreenTest, AnEraseIsReportedCompleteOnce) {
    for (ScreenMode mode : {ScreenMode::kJson, ScreenMode::kPlain}) {
        ScreenRun run(mode);
        run.Update(Outcome(OutcomeKind::Success, "Information", kSuccess, true));
        EXPECT_EQ(Count(run.out, R"("phase":"erase","percent":100,"done":506)") +
                      Count(run.out, "Erasing: 100%, 506/506 steps"),
                  1u)
            << run.out;
    }
}

TEST(ScreenTest, TerminalModeRedrawsOneLinePerPhaseAndRestoresTheCursor) {
    ScreenRun run(ScreenMode::kTerminal, 100);
    run.Update(Outcome(OutcomeKind::Success, "Information", kSuccess, true));
    EXPECT_NE(run.out.find("\033[?25l"), std::string::npos);
    EXPECT_EQ(run.out.rfind("\033[?25h"), run.out.size() - 6);  // shown again, last of all
    // Redrawn in place: many carriage returns, few line ends.
    EXPECT_GT(Count(run.out, "\r"), 100u);
    const std::vector<std::string> shown = Visible(run.out);
    ASSERT_GE(shown.size(), 5u);
    EXPECT_EQ(shown[shown.size() - 1].rfind("Result: ", 0), 0u) << shown[shown.size() - 1];
    EXPECT_EQ(shown[shown.size() - 2], std::string("Information: ") + kSuccess);
    EXPECT_EQ(shown[shown.size() - 3].rfind("Programming", 0), 0u) << shown[shown.size() - 3];
    EXPECT_NE(shown[shown.size() - 3].find("100%  8096/8096 blocks"), std::string::npos);
    EXPECT_EQ(shown[shown.size() - 4].rfind("Erasing", 0), 0u);
    EXPECT_NE(shown[shown.size() - 4].find("100%  506/506 steps"), std::string::npos);
    for (const std::string& s : shown) {
        if (s.rfind("Checking", 0) == 0 || s.rfind("Erasing", 0) == 0 ||
            s.rfind("Programming", 0) == 0) {
            EXPECT_LT(s.size(), 100u) << s;  // a status line never wraps
        }
    }
}

TEST(ScreenTest, PromptAwaitingEnterSaysHowToAnswer) {
    Captured io;
    {
        const std::unique_ptr<Screen> screen = Screen::Make(ScreenMode::kPlain, io.out, io.err);
        screen->Prompt("Information", "Please POWER OFF=>ON the PLC, and then press OK to continue",
                       true, 1);
        screen->PromptAnswered(Answer::Cancel, false);
        screen->Cancelled(3, false);
    }
    const std::string e = io.Err();
    EXPECT_NE(e.find("Information: Please POWER OFF=>ON the PLC, and then press OK to continue\n"
                     "Press Enter to continue (n and Enter cancels): \n"),
              std::string::npos)
        << e;
    EXPECT_NE(e.find("cancelled"), std::string::npos);
    EXPECT_EQ(io.Out(), "");
}

TEST(ScreenTest, TerminalStatusLineKeepsOffAPromptAwaitingEnter) {
    Captured io;
    const std::unique_ptr<Screen> screen = Screen::Make(ScreenMode::kTerminal, io.out, io.err);
    ProgressTracker tracker(256);
    const auto sample = [&](double at) { screen->Tick(tracker.At(at)); };
    sample(1.0);
    const std::string before = io.Out();
    EXPECT_NE(before.find("Checking     0:01"), std::string::npos);
    screen->Prompt("Information", "Please REPLUG the USB Cable, and then press OK to continue",
                   true, 1);
    const std::string cleared = io.Out();
    sample(2.0);
    sample(3.0);
    EXPECT_EQ(io.Out(), cleared);                             // nothing drawn over the question
    EXPECT_NE(cleared.find("\033[?25h"), std::string::npos);  // the cursor is back for it
    screen->PromptAnswered(Answer::Ok, true);
    sample(4.0);
    EXPECT_NE(io.Out().find("Checking     0:04"), std::string::npos);
}

// The signal's status and name reach the JSON outcome; the person is told what it cost.
TEST(ScreenTest, InterruptedSaysBySignalAndWhatTheControllerNeeds) {
    struct Case {
        ScreenMode mode;
        Phase phase;
        const char* json;  // part of the outcome line, or nullptr for none
        const char* line;  // the stderr line
    };
    const Case cases[] = {
        {ScreenMode::kJson, Phase::Programming,
         R"("exitCode":131,"result":"interrupted","signal":"SIGQUIT","phase":"program")",
         "fwburn-cpu-cli: interrupted by SIGQUIT; the port is released; the erase had begun: the "
         "PLC needs a new update\n"},
        {ScreenMode::kPlain, Phase::Erasing, nullptr,
         "fwburn-cpu-cli: interrupted by SIGQUIT; the port is released; the erase had begun: the "
         "PLC needs a new update\n"},
        {ScreenMode::kPlain, Phase::Checking, nullptr,
         "fwburn-cpu-cli: interrupted by SIGQUIT; the port is released\n"},
    };
    for (const Case& c : cases) {
        Captured io;
        {
            const std::unique_ptr<Screen> screen = Screen::Make(c.mode, io.out, io.err);
            screen->Start(Info());
            screen->Interrupted("SIGQUIT", 131, c.phase, 1.5);
        }
        const std::string o = io.Out();
        if (c.json != nullptr) {
            EXPECT_NE(o.find(c.json), std::string::npos) << o;
        }
        const std::string e = io.Err();
        EXPECT_EQ(e.substr(e.size() - std::string(c.line).size()), c.line) << e;
    }
}

TEST(ScreenTest, ANoteIsALineOfItsOwnOnStderr) {
    for (ScreenMode mode : {ScreenMode::kTerminal, ScreenMode::kPlain, ScreenMode::kJson}) {
        Captured io;
        {
            const std::unique_ptr<Screen> screen = Screen::Make(mode, io.out, io.err);
            RunInfo info = Info();
            info.standIn = false;
            screen->Start(info);
            screen->Note("give --allow-stand-in");
        }
        EXPECT_EQ(io.Err(), "fwburn-cpu-cli: give --allow-stand-in\n");
        const std::string o = io.Out();
        EXPECT_EQ(o.find("STAND-IN"), std::string::npos) << o;  // a real image: no notice
    }
}

// On a narrow terminal the program's own error lines go on to the next line between words: the
// path they give is never cut.
TEST(ScreenTest, AnErrorLineKeepsItsPathWhole) {
    const std::string path = "/run/lock/fwburn-_dev_serial_by-id_usb-Korvan_ZL500_A1-if00.lock";
    for (const int columns : {80, 40}) {
        Captured io;
        {
            const std::unique_ptr<Screen> screen =
                Screen::Make(ScreenMode::kTerminal, io.out, io.err, [columns] { return columns; });
            screen->Start(Info());
            screen->OpenFailed("/dev/ttyACM0: in use by another program (lock file " + path + ")",
                               false);
        }
        EXPECT_NE(io.Err().find(path), std::string::npos) << io.Err();
    }
}

// A controller that stops taking blocks at block 101 of 8096: every form shows 100 blocks done,
// not the 81 the percentage (1 %) would stand for.
TEST(ScreenTest, AFailureMidTransferShowsTheExactCountReached) {
    struct Case {
        ScreenMode mode;
        const char* shown;
    };
    const Case cases[] = {
        {ScreenMode::kJson, R"("event":"progress","phase":"program","percent":1,"done":100,)"},
        {ScreenMode::kPlain, "Programming: 1%, 100/8096 blocks"},
        {ScreenMode::kTerminal, "1%  100/8096 blocks"},
    };
    for (const Case& c : cases) {
        ScreenRun run(c.mode, 100);
        run.Send(Phased(Phase::Erasing, 506));
        run.Send(Step(Phase::Erasing, 506, 506, 100));
        run.Send(Phased(Phase::Programming, 8096));
        // Faster than the tick: the terminal draws none of these on its own.
        for (uint32_t i = 1; i <= 100; ++i) {
            run.Send(Step(Phase::Programming, i, 8096, static_cast<int32_t>(i * 100 / 8097)), 0.001,
                     false);
        }
        run.Finish(
            Outcome(OutcomeKind::FailedAfterErase, "ERROR", "Firmware update is FAILED", true));
        EXPECT_EQ(Count(run.out, c.shown), 1u) << run.out;
        // Still there once the finding and the outcome are said below it.
        const std::vector<std::string> shown = Visible(run.out);
        EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [&](const std::string& line) {
            return line.find(c.shown) != std::string::npos;
        })) << run.out;
        EXPECT_EQ(Lines(run.err).back(), "ERROR: Firmware update is FAILED");
    }
}

// An erase that began and failed between two ticks is still shown, with the steps it got to.
TEST(ScreenTest, AnEraseBetweenTwoTicksShowsItsPhase) {
    struct Case {
        ScreenMode mode;
        std::vector<const char*> shown;
    };
    const Case cases[] = {
        {ScreenMode::kJson,
         {R"({"event":"phase","phase":"erase","total":6,"unit":"steps")",
          R"("event":"progress","phase":"erase","percent":83,"done":6,"total":6,)",
          R"({"event":"retry","phase":"erase","errCounter":1,"totalErrCounter":1,)",
          R"("exitCode":7,"result":"update-failed","erased":true,)"}},
        {ScreenMode::kPlain,
         {"\nErasing: 6 steps\nErasing: 0%, 0/6 steps", "\nErasing: 83%, 6/6 steps",
          "\nRetry: 1 in this command, 1 in all\n"}},
        {ScreenMode::kTerminal, {"Erasing", "83%  6/6 steps"}},
    };
    for (const Case& c : cases) {
        ScreenRun run(c.mode, 100);
        run.Send(Phased(Phase::Checking, 0));
        run.Send(Phased(Phase::Erasing, 6), 0.01, false);
        for (uint32_t k = 0; k < 6; ++k) {
            run.Send(Step(Phase::Erasing, k + 1, 6, static_cast<int32_t>(k * 100 / 6)), 0.01,
                     false);
        }
        run.Send(Retry(Phase::Erasing, 1, 1), 0.01, false);
        run.Finish(Outcome(OutcomeKind::FailedAfterErase, "ERROR",
                           "PLC DOES NOT respond to the erasing signal", true));
        for (const char* part : c.shown) {
            EXPECT_NE(run.out.find(part), std::string::npos) << part << " in\n" << run.out;
        }
    }
}

// Every failed attempt is an event of its own with both counters, however close together.
TEST(ScreenTest, RetryEventsCarryBothCounters) {
    for (ScreenMode mode : {ScreenMode::kJson, ScreenMode::kPlain}) {
        ScreenRun run(mode);
        run.Send(Phased(Phase::Programming, 44));
        run.Send(Retry(Phase::Programming, 1, 1), 0.001, false);
        run.Send(Retry(Phase::Programming, 2, 2), 0.001, false);
        run.Send(Step(Phase::Programming, 1, 44, 2), 0.001, false);
        run.Send(Retry(Phase::Programming, 1, 3), 0.001, false);
        run.Finish(Outcome(OutcomeKind::Success, "Information", kSuccess, true));
        const std::vector<std::string> expected =
            mode == ScreenMode::kJson
                ? std::vector<std::string>{R"("errCounter":1,"totalErrCounter":1,)",
                                           R"("errCounter":2,"totalErrCounter":2,)",
                                           R"("errCounter":1,"totalErrCounter":3,)"}
                : std::vector<std::string>{"Retry: 1 in this command, 1 in all",
                                           "Retry: 2 in this command, 2 in all",
                                           "Retry: 1 in this command, 3 in all"};
        size_t at = 0;
        for (const std::string& part : expected) {
            at = run.out.find(part, at);
            ASSERT_NE(at, std::string::npos) << part << " in order in\n" << run.out;
        }
        EXPECT_EQ(Count(run.out, mode == ScreenMode::kJson ? "\"event\":\"retry\"" : "Retry: "),
                  3u);
    }
}

// The outcome line of every kind of ending: its status, its word, whether anything was erased;
// success alone goes to stdout.
TEST(ScreenTest, EveryKindOfEndingHasItsOutcomeLine) {
    struct Case {
        OutcomeKind kind;
        bool erased;
        const char* json;
    };
    const Case cases[] = {
        {OutcomeKind::Success, true, R"("exitCode":0,"result":"success","erased":true,)"},
        {OutcomeKind::ImageRefused, false,
         R"("exitCode":3,"result":"image-refused","erased":false,)"},
        {OutcomeKind::PortNotOpened, false,
         R"("exitCode":4,"result":"port-failed","erased":false,)"},
        {OutcomeKind::ControllerRefused, false,
         R"("exitCode":5,"result":"controller-refused","erased":false,)"},
        {OutcomeKind::CommunicationFailed, false,
         R"("exitCode":6,"result":"communication-failed","erased":false,)"},
        {OutcomeKind::FailedAfterErase, true,
         R"("exitCode":7,"result":"update-failed","erased":true,)"},
    };
    for (const Case& c : cases) {
        ScreenRun json(ScreenMode::kJson);
        json.Finish(Outcome(c.kind, "X", "some text", c.erased));
        EXPECT_NE(json.out.find(c.json), std::string::npos) << json.out;
        ScreenRun plain(ScreenMode::kPlain);
        plain.Finish(Outcome(c.kind, "X", "some text", c.erased));
        const bool success = c.kind == OutcomeKind::Success;
        EXPECT_EQ(plain.out.find("X: some text\n") != std::string::npos, success) << plain.out;
        EXPECT_EQ(plain.err.find("X: some text\n") != std::string::npos, !success) << plain.err;
    }
}

}  // namespace
}  // namespace fwburn::console

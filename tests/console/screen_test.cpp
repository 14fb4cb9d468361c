// What the console prints, in each of its three modes, for samples fed through the tracker.
#include "ui/console/screen.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace fwburn::console {
namespace {

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

std::string Contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        out.append(buffer, n);
    }
    std::fseek(f, 0, SEEK_END);  // what the screen writes next goes after it
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// One update's worth of output: start, a retry while checking, a prompt answered by --yes, the
// erase in steps, the transfer percent by percent, and the final message.
class ScreenRun {
  public:
    // `eraseSeenComplete`: the samples catch the erase at 100 %, not only the transfer after it.
    explicit ScreenRun(ScreenMode mode, int columns = 80, bool eraseSeenComplete = false)
        : out_(std::tmpfile()),
          err_(std::tmpfile()),
          screen_(mode, out_, err_, columns),
          eraseSeenComplete_(eraseSeenComplete) {}
    ~ScreenRun() {
        std::fclose(out_);
        std::fclose(err_);
    }

    void Update(const char* caption, const char* text, ExitCode code) {
        RunInfo info;
        info.program = "fwburn-cpu-cli";
        info.version = "0.1.0";
        info.model = "ZL500";
        info.imageName = "ZL500_\"quoted\"\\name.bin";
        info.imageLength = 2076672;
        info.standIn = true;
        info.totals = PhaseTotals{506, 8096, 256};
        ProgressTracker tracker(info.totals);
        double now = 0;
        const auto sample = [&](Figures f) {
            now += 0.1;
            const ProgressTracker::Changes c = tracker.Update(f, now);
            screen_.Progress(tracker.view(), c, c.phase ? &tracker.finished() : nullptr, now);
        };
        screen_.Start(info);
        screen_.Opened("/dev/pts/9", false);
        sample({0, 0, 0, 0});
        sample({0, 0, 1, 1});
        screen_.Prompt("Information", "Please REPLUG the USB Cable, and then press OK to continue",
                       false, 1);
        screen_.Waiting(5);
        screen_.Opened("/dev/pts/9", true);
        for (int p = 0; p <= 98; p += 7) {
            sample({1, p, 0, 1});
        }
        if (eraseSeenComplete_) {
            sample({1, 100, 0, 1});
        }
        for (int p = 0; p <= 100; ++p) {
            sample({2, p, 0, 1});
        }
        screen_.Final(caption, text, code, now);
        screen_.Restore();
        out = Contents(out_);
        err = Contents(err_);
    }

    std::string out;
    std::string err;

  private:
    std::FILE* out_;
    std::FILE* err_;
    Screen screen_;
    bool eraseSeenComplete_;
};

constexpr char kSuccess[] = "Firmware update is SUCCESSFUL!, please REPLUG the USB cable";

TEST(ScreenTest, PlainModeWritesWholeLinesAndATenthAtATime) {
    ScreenRun run(ScreenMode::kPlain);
    run.Update("Information", kSuccess, kExitSuccess);
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_EQ(run.out.find('\033'), std::string::npos);
    EXPECT_EQ(Count(run.out, "\nErasing: 506 steps\n"), 1u);
    EXPECT_EQ(Count(run.out, "\nProgramming: 8096 blocks of 256 bytes\n"), 1u);
    EXPECT_EQ(Count(run.out, "Programming: "), 1u + 11u);  // the start, 0% to 100% by tenths
    // The erase's last sample was at 98%: it is shown complete when the transfer starts.
    EXPECT_EQ(Count(run.out, "Erasing: 100%, 506/506 steps"), 1u);
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
    run.Update("ERROR", "Firmware update is FAILED", kExitFailedAfterErase);
    EXPECT_EQ(Lines(run.err).back(), "ERROR: Firmware update is FAILED");
    EXPECT_EQ(run.out.find("Firmware update is FAILED"), std::string::npos);
}

TEST(ScreenTest, JsonModeKeepsStdoutToOneValidObjectPerLine) {
    ScreenRun run(ScreenMode::kJson);
    run.Update("Information", kSuccess, kExitSuccess);
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_FALSE(lines.empty());
    std::string why;
    EXPECT_TRUE(EveryLineIsAJsonObject(run.out, why)) << why << run.out;
    EXPECT_EQ(run.out.back(), '\n');
    EXPECT_EQ(lines.front().rfind(R"({"event":"start","program":"fwburn-cpu-cli")", 0), 0u);
    EXPECT_NE(lines.front().find(R"("image":"ZL500_\"quoted\"\\name.bin")"), std::string::npos);
    EXPECT_NE(lines.front().find(R"("standIn":true,"notice":"TEST BUILD: STAND-IN IMAGE")"),
              std::string::npos);
    EXPECT_EQ(lines.back(), std::string(R"({"event":"outcome","caption":"Information","text":")") +
                                kSuccess + R"(","exitCode":0,"result":"success","elapsed":)" +
                                lines.back().substr(lines.back().rfind(':') + 1));
    // Every percent of the transfer is a step; the erase's seven samples and its completion.
    EXPECT_EQ(Count(run.out, R"("event":"progress","phase":"program")"), 101u);
    EXPECT_EQ(Count(run.out, R"("event":"progress","phase":"erase")"), 15u + 1u);
    EXPECT_EQ(Count(run.out, R"("event":"phase")"), 2u);
    EXPECT_EQ(
        Count(run.out, R"({"event":"retry","phase":"check","errCounter":1,"totalErrCounter":1)"),
        1u);
    EXPECT_EQ(Count(run.out, R"("event":"prompt","caption":"Information")"), 1u);
    EXPECT_EQ(Count(run.out, R"({"event":"wait","seconds":5})"), 1u);
    // The people's lines go to stderr, the outcome among them.
    EXPECT_EQ(Lines(run.err).back(), std::string("Information: ") + kSuccess);
}

TEST(ScreenTest, AnEraseSeenCompleteIsReportedCompleteOnce) {
    for (ScreenMode mode : {ScreenMode::kJson, ScreenMode::kPlain}) {
        ScreenRun run(mode, 80, true);
        run.Update("Information", kSuccess, kExitSuccess);
        EXPECT_EQ(Count(run.out, R"("phase":"erase","percent":100,"done":506)") +
                      Count(run.out, "Erasing: 100%, 506/506 steps"),
                  1u)
            << run.out;
    }
}

TEST(ScreenTest, TerminalModeRedrawsOneLinePerPhaseAndRestoresTheCursor) {
    ScreenRun run(ScreenMode::kTerminal, 100);
    run.Update("Information", kSuccess, kExitSuccess);
    EXPECT_NE(run.out.find("\033[?25l"), std::string::npos);
    EXPECT_EQ(run.out.rfind("\033[?25h"), run.out.size() - 6);  // shown again, last of all
    // Redrawn in place: many carriage returns, few line ends.
    EXPECT_GT(Count(run.out, "\r"), 100u);
    const std::vector<std::string> lines = Lines(run.out);
    // Each line's visible text is what follows its last carriage return.
    std::vector<std::string> shown;
    for (const std::string& line : lines) {
        std::string text =
            line.substr(line.rfind('\r') == std::string::npos ? 0 : line.rfind('\r') + 1);
        const size_t clear = text.find("\033[K");
        if (clear != std::string::npos) {
            text.erase(clear, 3);
        }
        if (!text.empty() && text != "\033[?25l" && text != "\033[?25h") {
            shown.push_back(text);
        }
    }
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ(shown[shown.size() - 1], std::string("Information: ") + kSuccess);
    EXPECT_EQ(shown[shown.size() - 2].rfind("Programming", 0), 0u) << shown[shown.size() - 2];
    EXPECT_NE(shown[shown.size() - 2].find("100%  8096/8096 blocks"), std::string::npos);
    EXPECT_EQ(shown[shown.size() - 3].rfind("Erasing", 0), 0u);
    EXPECT_NE(shown[shown.size() - 3].find("100%  506/506 steps"), std::string::npos);
    for (const std::string& s : shown) {
        if (s.rfind("Checking", 0) == 0 || s.rfind("Erasing", 0) == 0 ||
            s.rfind("Programming", 0) == 0) {
            EXPECT_LT(s.size(), 100u) << s;  // a status line never wraps
        }
    }
}

TEST(ScreenTest, PromptAwaitingEnterSaysHowToAnswer) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    {
        Screen screen(ScreenMode::kPlain, out, err);
        screen.Prompt("Information", "Please POWER OFF=>ON the PLC, and then press OK to continue",
                      true, 1);
        screen.PromptAnswered(Answer::Cancel);
        screen.Cancelled(3, false);
    }
    const std::string e = Contents(err);
    EXPECT_NE(e.find("Information: Please POWER OFF=>ON the PLC, and then press OK to continue\n"
                     "Press Enter to continue (end of input cancels): \n"),
              std::string::npos)
        << e;
    EXPECT_NE(e.find("cancelled"), std::string::npos);
    EXPECT_EQ(Contents(out), "");
    std::fclose(out);
    std::fclose(err);
}

TEST(ScreenTest, TerminalStatusLineKeepsOffAPromptAwaitingEnter) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    {
        Screen screen(ScreenMode::kTerminal, out, err, 80);
        ProgressTracker tracker(PhaseTotals{6, 44, 256});
        const auto sample = [&](double at) {
            const ProgressTracker::Changes c = tracker.Update(Figures{}, at);
            screen.Progress(tracker.view(), c, nullptr, at);
        };
        sample(1.0);
        const std::string before = Contents(out);
        EXPECT_NE(before.find("Checking     0:01"), std::string::npos);
        screen.Prompt("Information", "Please REPLUG the USB Cable, and then press OK to continue",
                      true, 1);
        const std::string cleared = Contents(out);
        sample(2.0);
        sample(3.0);
        EXPECT_EQ(Contents(out), cleared);                        // nothing drawn over the question
        EXPECT_NE(cleared.find("\033[?25h"), std::string::npos);  // the cursor is back for it
        screen.PromptAnswered(Answer::Ok);
        sample(4.0);
        EXPECT_NE(Contents(out).find("Checking     0:04"), std::string::npos);
    }
    std::fclose(out);
    std::fclose(err);
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
        {ScreenMode::kJson, Phase::kProgramming,
         R"("exitCode":131,"result":"interrupted","signal":"SIGQUIT","phase":"program")",
         "fwburn-cpu-cli: interrupted by SIGQUIT; the port is released; the erase had begun: the "
         "PLC needs a new update\n"},
        {ScreenMode::kPlain, Phase::kChecking, nullptr,
         "fwburn-cpu-cli: interrupted by SIGQUIT; the port is released\n"},
    };
    for (const Case& c : cases) {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        {
            Screen screen(c.mode, out, err);
            RunInfo info;
            info.program = "fwburn-cpu-cli";
            screen.Start(info);
            screen.Interrupted("SIGQUIT", 131, c.phase, 1.5);
        }
        const std::string o = Contents(out);
        if (c.json != nullptr) {
            EXPECT_NE(o.find(c.json), std::string::npos) << o;
        }
        const std::string e = Contents(err);
        EXPECT_EQ(e.substr(e.size() - std::string(c.line).size()), c.line) << e;
        std::fclose(out);
        std::fclose(err);
    }
}

TEST(ScreenTest, ANoteIsALineOfItsOwnOnStderr) {
    for (ScreenMode mode : {ScreenMode::kTerminal, ScreenMode::kPlain, ScreenMode::kJson}) {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        {
            Screen screen(mode, out, err);
            RunInfo info;
            info.program = "fwburn-cpu-cli";
            info.standIn = false;
            screen.Start(info);
            screen.Note("give --allow-stand-in");
        }
        EXPECT_EQ(Contents(err), "fwburn-cpu-cli: give --allow-stand-in\n");
        const std::string o = Contents(out);
        EXPECT_EQ(o.find("STAND-IN"), std::string::npos) << o;  // a real image: no notice
        std::fclose(out);
        std::fclose(err);
    }
}

}  // namespace
}  // namespace fwburn::console

// A terminal that fits: the status line gives way part by part as the terminal narrows, lines
// printed once are fitted, the width is followed across SIGWINCH, and the last line gives the
// result and the total time, coloured only where colour is wanted.
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/console/screen_fixture.hpp"
#include "ui/console/posix/terminal_size.hpp"

namespace fwburn::console {
namespace {

using namespace fixture;

TEST(TerminalLineTest, WholePartsGiveWayInTheirOrderAndTheCountsStay) {
    struct Case {
        int columns;
        int32_t retries;  // both counters
        const char* line;
    };
    const Case cases[] = {
        {70, 1, "Programming   42%  3400/8096 blocks  87.0 kB/s  ETA 0:14  retries 1/1"},
        {60, 1, "Programming   42%  3400/8096 blocks  ETA 0:14  retries 1/1"},  // the rate
        {60, 0, "Programming   42%  3400/8096 blocks  ETA 0:14  retries 0/0"},
        {50, 0, "Programming   42%  3400/8096 blocks  ETA 0:14"},     // retries that say nothing
        {50, 1, "Programming   42%  3400/8096 blocks  retries 1/1"},  // retries over time left
        {40, 1, "Programming   42%  3400/8096 blocks"},
        {30, 1, "Programming   42%  3400/8096"},
        {28, 1, "Programming   42%"},  // never a count cut short
        {12, 1, "Programming"},
        {8, 1, "Program"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TerminalLine(Programming(c.retries, c.retries), c.columns), c.line)
            << c.columns << " columns";
    }
}

TEST(TerminalLineTest, AtAnyWidthFromFortyNoPartIsCutAndNothingWraps) {
    ProgressView erase = Programming(0, 0);
    erase.phase = Phase::Erasing;
    erase.done = 212;
    erase.total = 506;
    for (const ProgressView& view : {Programming(2, 17), Programming(0, 0), erase}) {
        const std::string counts = std::to_string(view.done) + "/" + std::to_string(view.total);
        for (int columns = 40; columns <= 200; ++columns) {
            const std::string line = TerminalLine(view, columns);
            EXPECT_LT(line.size(), static_cast<size_t>(columns)) << line;
            EXPECT_NE(line.find(counts + " "), std::string::npos) << line;  // unit kept too
            // The last part is whole: a word of its own, not the start of one.
            const std::string last = line.substr(line.rfind("  ") + 2);
            const bool whole = last == counts + " " + view.unit() || last.rfind("ETA ", 0) == 0 ||
                               last.rfind("retries ", 0) == 0 ||
                               last.find("B/s") != std::string::npos;
            EXPECT_TRUE(whole) << columns << ": " << line;
        }
    }
}

TEST(FitLineTest, ALineThatFitsIsLeftAlone) {
    EXPECT_EQ(FitLine("Port: /dev/pts/4", 40), "Port: /dev/pts/4");
    const std::string exact(79, 'x');
    EXPECT_EQ(FitLine(exact, 80), exact);
}

TEST(FitLineTest, TheLongestWordIsCutInItsMiddleFirst) {
    const std::string start =
        "fwburn-cpu-cli 0.1.0: ZL500, image ZL500_v1.06.40_0628_01_DDRVA_odd_axis_resume.bin "
        "(2076672 bytes)";
    const std::string at80 = FitLine(start, 80);
    EXPECT_EQ(at80.size(), 79u) << at80;
    EXPECT_EQ(at80.find('\n'), std::string::npos) << at80;
    EXPECT_EQ(at80.rfind("fwburn-cpu-cli 0.1.0: ZL500, image ZL500_v1.", 0), 0u) << at80;
    const std::string end = "...is_resume.bin (2076672 bytes)";
    EXPECT_EQ(at80.substr(at80.size() - end.size()), end) << at80;

    // Too narrow even for the cut name: more lines, broken at blanks, none too long. A line
    // broken anyway keeps the name whole wherever a line holds it.
    for (int columns : {80, 60, 50, 40}) {
        const std::string fitted = FitLine(start + "; TEST BUILD: STAND-IN IMAGE", columns);
        std::string words;
        EXPECT_NE(fitted.back(), '\n') << fitted;
        for (const std::string& line : Lines(fitted)) {
            EXPECT_LT(line.size(), static_cast<size_t>(columns)) << fitted;
            EXPECT_FALSE(line.empty()) << fitted;
            words += (words.empty() ? "" : " ") + line;
        }
        EXPECT_EQ(words.rfind("fwburn-cpu-cli 0.1.0: ZL500, image ZL50", 0), 0u) << words;
        EXPECT_NE(words.find(".bin (2076672 bytes); TEST BUILD: STAND-IN IMAGE"), std::string::npos)
            << words;
        EXPECT_EQ(
            words.find("ZL500_v1.06.40_0628_01_DDRVA_odd_axis_resume.bin") != std::string::npos,
            columns > 48)
            << words;
    }
}

TEST(FitLineTest, ShortWordsAreNeverCutOnlyBroken) {
    const std::string fitted = FitLine("Waiting 1 s for the PLC to restart, then the next one", 20);
    EXPECT_EQ(fitted, "Waiting 1 s for the\nPLC to restart,\nthen the next one");
    EXPECT_EQ(FitLine("one\ntwo", 40), "one\ntwo");
    // A word longer than the cut's shortest is no name: prose is broken, not cut.
    const std::string said =
        "fwburn-aio-cli: the erase had begun: the PLC's firmware is gone; run "
        "the update again to recover the PLC";
    const std::string broken = FitLine(said, 60);
    EXPECT_EQ(broken.find("..."), std::string::npos) << broken;
    EXPECT_EQ(broken.rfind("fwburn-aio-cli: the erase", 0), 0u) << broken;
}

// The window's text keeps every word: broken at blanks only, a word longer than a line whole.
TEST(WrapLineTest, BreaksTheWindowsTextAtBlanksAndNeverCutsAWord) {
    struct Case {
        const char* text;
        int columns;
        const char* wrapped;
    };
    const Case cases[] = {
        {"Information: Please REPLUG the USB Cable, and then press Enter to continue [--yes]", 80,
         "Information: Please REPLUG the USB Cable, and then press Enter to continue\n[--yes]"},
        {"Information: Please REPLUG the USB Cable, and then press Enter to continue [--yes]", 40,
         "Information: Please REPLUG the USB\nCable, and then press Enter to continue\n[--yes]"},
        {"ERROR: CANNOT open /dev/serial/by-id/usb-Korvan_ZL500_0123456789-if00 Port!!!", 40,
         "ERROR: CANNOT open\n/dev/serial/by-id/usb-Korvan_ZL500_0123456789-if00\nPort!!!"},
        {"a b\nlonger_than_the_line", 8, "a b\nlonger_than_the_line"},
        {"fits as it is", 14, "fits as it is"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WrapLine(c.text, c.columns), c.wrapped) << c.columns;
    }
}

TEST(ClosingLineTest, SaysTheResultAndTheTotalTime) {
    EXPECT_EQ(ClosingLine("success", 42.4), "Result: success, total time 0:42");
    EXPECT_EQ(ClosingLine("update-failed", 3725), "Result: update-failed, total time 1:02:05");
}

// Every redraw after a resize fits the new width: nothing the terminal would wrap.
TEST(TerminalScreenTest, FollowsTheWidthItIsGivenAtEachRedraw) {
    Captured io;
    int columns = 80;
    {
        const std::unique_ptr<Screen> screen =
            Screen::Make(ScreenMode::kTerminal, io.out, io.err, [&columns] { return columns; });
        screen->Start(Info());
        ProgressView v = Programming(1, 1);
        screen->Tick(v);
        const size_t before = io.Out().size();
        columns = 60;
        v.done = 3401;
        screen->Tick(v);
        const std::string after = io.Out().substr(before);
        const std::vector<std::string> shown = Visible(after);
        ASSERT_EQ(shown.size(), 1u) << after;
        EXPECT_EQ(shown[0], "Programming   42%  3401/8096 blocks  ETA 0:14  retries 1/1");
        columns = 45;
        screen->Final(Outcome(OutcomeKind::Success, "INFORMATION", "Firmware update is SUCCESSFUL"),
                      kExitSuccess, 61);
    }
    const std::vector<std::string> shown = Visible(io.Out());
    ASSERT_GE(shown.size(), 3u);
    for (const std::string& line : {shown.front(), shown[1], shown.back()}) {
        EXPECT_LT(line.size(), 80u) << line;  // the start line, broken to the width at the start
    }
    // At 80 columns the name is whole on the start line's second row; 45 would have cut it.
    EXPECT_EQ(shown[1].rfind("ZL500_v1.06.40_0628_01_DDRVA_odd_axis_resume.bin (2076672", 0), 0u)
        << shown[1];
    EXPECT_EQ(shown.back(), "Result: success, total time 1:01");
}

// Colour on a terminal only, and not with NO_COLOR set to anything, the empty string included.
TEST(TerminalScreenTest, TheResultIsColouredOnlyOnATerminalWithoutNoColor) {
    struct Case {
        ScreenMode mode;
        const char* noColor;  // nullptr: unset
        ExitCode code;
        const char* painted;  // expected on stdout, nullptr: no escape sequence but the cursor's
    };
    const Case cases[] = {
        {ScreenMode::kTerminal, nullptr, kExitSuccess, "Result: \033[32msuccess\033[0m, total"},
        {ScreenMode::kTerminal, nullptr, kExitFailedAfterErase,
         "Result: \033[31mupdate-failed\033[0m, total"},
        {ScreenMode::kTerminal, nullptr, kExitCancelled, "Result: \033[33mcancelled\033[0m, total"},
        {ScreenMode::kTerminal, "1", kExitSuccess, nullptr},
        {ScreenMode::kTerminal, "", kExitFailedAfterErase, nullptr},
        {ScreenMode::kPlain, nullptr, kExitSuccess, nullptr},
        {ScreenMode::kJson, nullptr, kExitFailedAfterErase, nullptr},
    };
    for (const Case& c : cases) {
        const ScopedEnv noColor("NO_COLOR", c.noColor);
        Captured io;
        {
            const std::unique_ptr<Screen> screen = Screen::Make(c.mode, io.out, io.err);
            screen->Start(Info());
            screen->Tick(Programming(0, 0));
            if (c.code == kExitCancelled) {
                screen->Cancelled(3, false);
            } else if (c.code == kExitSuccess) {
                screen->Final(Outcome(OutcomeKind::Success, "INFORMATION", "SUCCESSFUL"), c.code,
                              3);
            } else {
                screen->Final(Outcome(OutcomeKind::FailedAfterErase, "ERROR", "FAILED"), c.code, 3);
            }
            screen->Restore();
        }
        const std::string both = io.Out() + io.Err();
        if (c.painted != nullptr) {
            EXPECT_NE(both.find(c.painted), std::string::npos) << both;
        } else {
            EXPECT_EQ(WithoutCursor(both).find('\033'), std::string::npos)
                << static_cast<int>(c.mode) << " " << both;
        }
    }
}

// Each ending gets the closing line on a terminal; a log and JSON keep their last lines as they
// were.
TEST(TerminalScreenTest, EveryEndingClosesWithTheTotalTimeOnATerminalOnly) {
    const ScopedEnv noColor("NO_COLOR", "1");
    for (ScreenMode mode : {ScreenMode::kTerminal, ScreenMode::kPlain, ScreenMode::kJson}) {
        for (int ending = 0; ending < 3; ++ending) {
            Captured io;
            {
                const std::unique_ptr<Screen> screen = Screen::Make(mode, io.out, io.err);
                screen->Start(Info());
                if (ending == 0) {
                    screen->Final(Outcome(OutcomeKind::Success, "INFORMATION", "SUCCESSFUL"),
                                  kExitSuccess, 75);
                } else if (ending == 1) {
                    screen->Cancelled(75, false);
                } else {
                    screen->Interrupted("SIGTERM", 143, Phase::Programming, 75);
                }
            }
            const std::string o = io.Out();
            const char* result[] = {"success", "cancelled", "interrupted"};
            const std::string closing =
                std::string("Result: ") + result[ending] + ", total time 1:15\n";
            if (mode == ScreenMode::kTerminal) {
                ASSERT_GE(o.size(), closing.size()) << o;
                EXPECT_EQ(o.substr(o.size() - closing.size()), closing) << o;
            } else {
                EXPECT_EQ((o + io.Err()).find("total time"), std::string::npos) << o;
            }
        }
    }
}

void SetColumns(int fd, unsigned short columns, unsigned short rows = 24) {
    winsize size{};
    size.ws_row = rows;
    size.ws_col = columns;
    ioctl(fd, TIOCSWINSZ, &size);
}

// On a pseudo-terminal: the width at the start, then the new one after SIGWINCH, taken from the
// descriptor even with another thread running that was started after it; the height with it,
// whichever of the two is asked first.
TEST(TerminalWidthTest, IsReadAgainAfterSigwinch) {
    const pid_t pid = fork();
    if (pid == 0) {
        int master = -1;
        int slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
            _exit(2);
        }
        SetColumns(master, 80);
        TerminalWidth width(slave);
        if (width.Columns() != 80 || width.Rows() != 24) {
            _exit(3);
        }
        std::thread busy([] { usleep(300000); });  // would take the signal if it were unblocked
        SetColumns(master, 60);
        kill(getpid(), SIGWINCH);
        usleep(50000);
        const int after = width.Columns();
        busy.join();
        SetColumns(master, 100);  // no signal yet: the width last told stands
        const int unsignalled = width.Columns();
        kill(getpid(), SIGWINCH);
        const int resized = width.Columns();
        SetColumns(master, 100, 12);
        kill(getpid(), SIGWINCH);
        const int columns = width.Columns();
        const int rows = width.Rows();
        _exit(after == 60 && unsignalled == 60 && resized == 100 && columns == 100 && rows == 12
                  ? 0
                  : 4);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// What a screen prints of the window's text and of its own, at the narrowest widths it serves:
// no line the terminal would wrap, and every word of the window's text kept.
TEST(TerminalScreenTest, PromptsAndEndingsFitTheWidthWithEveryWord) {
    const ScopedEnv noColor("NO_COLOR", "1");
    const std::string replug = "Please REPLUG the USB Cable, and then press Enter to continue";
    const std::string failed = "PLC DOES NOT respond to the update signal, please REPLUG the cable";
    // Among several controllers each line is tagged; a by-id name may be wider than the terminal.
    const std::string byId = "[usb-Korvan_PLC_ZL500-AIO_0123456789ABCDEF-if00] ";
    for (const int columns : {80, 40}) {
        size_t untagged = 0;  // lines without a tag: a tag may not take the text's room away
        for (const std::string& tag : {std::string(), std::string("[1-1.2] "), byId}) {
            const bool several = !tag.empty();
            Captured io;
            {
                const std::unique_ptr<Screen> screen = Screen::Make(
                    ScreenMode::kTerminal, io.out, io.err, [columns] { return columns; }, several);
                if (several) {
                    screen->Tag(tag, {});
                }
                screen->Start(Info());
                screen->Prompt("Information", replug.c_str(), false, 1);
                screen->Prompt("Information", replug.c_str(), true, 2);
                std::fputc('\n', io.err);  // the terminal's echo of Enter
                screen->PromptAnswered(Answer::Ok, true);
                screen->Final(Outcome(OutcomeKind::FailedAfterErase, "ERROR", failed.c_str()),
                              kExitFailedAfterErase, 3725);
            }
            const std::string said = io.Out() + io.Err();
            std::string words;
            const std::vector<std::string> lines = Visible(said);
            for (const std::string& line : lines) {
                EXPECT_LT(line.size(), static_cast<size_t>(columns)) << line;
                words += line + " ";
            }
            untagged = several ? untagged : lines.size();
            EXPECT_LE(lines.size(), 2 * untagged) << columns << " " << tag << said;
            for (const std::string& whole :
                 {"Information: " + replug + " [--yes]",
                  "Information: " + replug + " Press Enter to continue (n and Enter cancels):",
                  "ERROR: " + failed}) {
                EXPECT_NE(words.find(whole), std::string::npos) << columns << " " << said;
            }
            if (!several) {
                EXPECT_NE(words.find("Result: update-failed, total time 1:02:05"),
                          std::string::npos)
                    << said;
            }
        }
    }
}

// Coloured, the closing line is fitted on its visible text: the colour takes no column.
TEST(TerminalScreenTest, TheColouredClosingLineFitsByWhatItShows) {
    const ScopedEnv colour("NO_COLOR", nullptr);
    Captured io;
    {
        const std::unique_ptr<Screen> screen =
            Screen::Make(ScreenMode::kTerminal, io.out, io.err, [] { return 42; });
        screen->Cancelled(3725, true);
    }
    const std::string said = io.Out();
    EXPECT_NE(said.find("Result: \033[33mcancelled\033[0m, total time 1:02:05\n"),
              std::string::npos)
        << said;
}

}  // namespace
}  // namespace fwburn::console

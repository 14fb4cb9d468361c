// Text from a device or a path made safe for a terminal, and the screens that print such text:
// nothing a device supplies reaches a terminal as a control sequence.
#include "ui/console/show/shown_text.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "tests/console/screen_fixture.hpp"
#include "ui/console/show/board.hpp"
#include "ui/console/show/progress.hpp"
#include "ui/console/show/screen.hpp"

namespace fwburn::console {
namespace {

using fixture::Captured;

// A serial number that would retitle the window and paint the rest red.
const std::string kHostile = "AB\033]0;PWNED\a\033[31mRED";

TEST(ShownTest, EscapesWhatATerminalWouldObeyAndKeepsPrintableUtf8) {
    struct Case {
        std::string text;
        const char* shown;
    };
    const Case cases[] = {
        {"ZL500 serial 12AB-x_y /dev/ttyACM0", "ZL500 serial 12AB-x_y /dev/ttyACM0"},
        {kHostile, "AB\\x1B]0;PWNED\\x07\\x1B[31mRED"},
        {std::string("a\0b\r\n\t\x7F", 7), "a\\x00b\\r\\n\\x09\\x7F"},
        {"C:\\x\\", "C:\\x\\"},                                                // a backslash stays
        {"M\xC3\xBCller \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80", nullptr},  // kept as it is
        {"nbsp\xC2\xA0"
         "end",
         nullptr},  // U+00A0 is printable
        {"csi\xC2\x9B"
         "31m",
         "csi\\xC2\\x9B31m"},              // U+009B, encoded
        {"nel\xC2\x85", "nel\\xC2\\x85"},  // U+0085
        {"raw\x9B"
         "31m",
         "raw\\x9B31m"},                                        // a C1 byte alone
        {"\x80\xBF", "\\x80\\xBF"},                             // stray continuations
        {"\xC0\xAF\xE0\x80\xAF", "\\xC0\\xAF\\xE0\\x80\\xAF"},  // overlong
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},                    // a surrogate
        {"\xF4\x90\x80\x80\xF5", "\\xF4\\x90\\x80\\x80\\xF5"},  // past U+10FFFF
        {"cut\xE2\x82", "cut\\xE2\\x82"},                       // cut short
        {"\xE2\x82"
         "A",
         "\\xE2\\x82A"},  // broken off
        {"rlo\xE2\x80\xAE"
         "gpj.exe",
         "rlo\\xE2\\x80\\xAEgpj.exe"},  // reorders
        {"ls\xE2\x80\xA8"
         "x",
         "ls\\xE2\\x80\\xA8x"},          // breaks the line
        {"\xE2\x80\x94 dash", nullptr},  // U+2014 is printable
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Shown(c.text), c.shown != nullptr ? c.shown : c.text) << c.text;
    }
}

// Whatever the bytes, what is shown needs no more escaping and holds no control byte.
TEST(ShownTest, EveryOutputIsCleanForAnyInput) {
    const auto check = [](const std::string& text) {
        const std::string shown = Shown(text);
        EXPECT_EQ(Shown(shown), shown) << text;
        for (const char c : shown) {
            const auto b = static_cast<unsigned char>(c);
            ASSERT_TRUE(b >= 0x20 && b != 0x7F) << text;
        }
    };
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            check({static_cast<char>(a), static_cast<char>(b)});
        }
    }
    std::mt19937 random(20);
    std::uniform_int_distribution<int> byte(0x7F, 0xFF);  // mostly multi-byte leads and tails
    for (int n = 0; n < 20000; ++n) {
        std::string text(1 + n % 7, ' ');
        for (char& c : text) {
            c = static_cast<char>(byte(random));
        }
        check(text);
    }
}

// A line shortened to the terminal's width keeps whole characters: a path or a device's name of
// two-, three- and four-byte characters, cut at any width by each of the cutters, stays valid
// UTF-8 (Shown leaves it as it is) and within the width.
TEST(ShownTest, ALineCutToTheWidthNeverCutsACharacter) {
    const std::string name =
        "/dev/serial/by-id/usb-M\xC3\xBCller_\xE6\x97\xA5\xE6\x9C\xAC_"
        "\xF0\x9F\x98\x80\xC3\xA9\xC3\xA9\xC3\xA9-if00";
    const std::vector<SummaryRow> rows{{name, 7, 3, "ERROR: Firmware update is FAILED", name},
                                       {name + "2", 0, 3, "Information: " + name, name}};
    ProgressView view;
    view.phase = Phase::Programming;
    view.total = 44;
    for (int columns = 2; columns < 10; ++columns) {  // narrower than a character: still an end
        EXPECT_FALSE(FitLine(name + name, columns).empty());
    }
    // Counted in columns, not bytes: a line that fits stays whole.
    const std::string fits = "Port: " + name;
    EXPECT_EQ(FitLine(fits, static_cast<int>(Width(fits)) + 1), fits);
    EXPECT_EQ(WrapLine(fits + " " + fits, static_cast<int>(Width(fits)) + 1), fits + "\n" + fits);
    for (int columns = 10; columns <= 90; ++columns) {
        std::vector<std::string> lines = SummaryTable(rows, columns);
        lines.push_back(SummaryTail(rows, columns, 3));
        lines.push_back(BoardLine(name, view, nullptr, false, columns));
        lines.push_back(BoardLine(name, view, "update-failed", false, columns));
        const std::string fitted = FitLine("Port: " + name + " " + name + "x", columns) + "\n" +
                                   FitLine(name + name + name, columns);
        for (size_t at = 0, end; at <= fitted.size(); at = end + 1) {
            end = std::min(fitted.find('\n', at), fitted.size());
            lines.push_back(fitted.substr(at, end - at));
        }
        for (const std::string& line : lines) {
            EXPECT_EQ(Shown(line), line) << columns;
            EXPECT_LT(Width(line), static_cast<size_t>(columns)) << columns << line;
        }
    }
}

// What a terminal gives each character: a column, two for the wide ones, and a cut never leaves
// half of a wide character within the room.
TEST(ShownTest, WideCharactersTakeTwoColumns) {
    const struct {
        const char* text;
        size_t width;
        const char* head3;  // the first three columns
        const char* tail3;  // the last three
    } cases[] = {
        {"abcd", 4, "abc", "bcd"},
        {"M\xC3\xBCller", 6, "M\xC3\xBCl", "ler"},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 6, "\xE6\x97\xA5", "\xE8\xAA\x9E"},
        {"a\xF0\x9F\x98\x80z", 4, "a\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80z"},
        {"\xEA\xB0\x80\xEF\xBC\xA1x", 5, "\xEA\xB0\x80", "\xEF\xBC\xA1x"},
        {"\xFF\xFEz", 3, "\xFF\xFEz", "\xFF\xFEz"},
        // Older symbols a terminal shows as pictures, two columns each: a lightning, a watch, a
        // star; then a kana of the supplement beyond the first plane's end.
        {"\xE2\x9A\xA1\xE2\x8C\x9A\xE2\xAD\x90", 6, "\xE2\x9A\xA1", "\xE2\xAD\x90"},
        {"x\xF0\x9B\x80\x81", 3, "x\xF0\x9B\x80\x81", "x\xF0\x9B\x80\x81"},
        // A combining mark and a zero-width space go on the character before: no column of their
        // own, kept with that character and left out with it.
        {"ae\xCC\x81\xCC\x81xyz", 5, "ae\xCC\x81\xCC\x81x", "xyz"},
        {"a\xE2\x80\x8Bz", 2, "a\xE2\x80\x8Bz", "a\xE2\x80\x8Bz"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Width(c.text), c.width) << c.text;
        EXPECT_EQ(HeadWithin(c.text, 3), c.head3) << c.text;
        EXPECT_EQ(TailWithin(c.text, 3), c.tail3) << c.text;
    }
}

// Every line a screen prints with a device's name or a path in it, in each form: the people's
// lines carry no control byte of the device's, JSON carries its text exactly.
TEST(ShownTest, NoScreenPassesADevicesTextRaw) {
    struct Case {
        const char* name;
        ScreenMode mode;
        bool several;
    };
    const Case cases[] = {
        {"terminal", ScreenMode::kTerminal, false},
        {"plain", ScreenMode::kPlain, false},
        {"several on a terminal", ScreenMode::kTerminal, true},
        {"json", ScreenMode::kJson, false},
    };
    const fixture::ScopedEnv noColor("NO_COLOR", "1");
    for (const Case& c : cases) {
        Captured io;
        {
            const std::unique_ptr<Screen> screen = Screen::Make(
                c.mode, io.out, io.err, [] { return 80; }, c.several);
            screen->Tag("[" + kHostile + "] ", {{"port", "/dev/" + kHostile}});
            RunInfo info;
            info.program = "fwburn-cpu-cli";
            screen->Start(info);
            screen->Opened("/dev/" + kHostile, false);
            screen->OpenFailed("/dev/" + kHostile + ": in use by another program", true);
            screen->Note("--trace /tmp/" + kHostile + ": cannot write");
            screen->Prompt("Information", kHostile.c_str(), false, 1);
            UpdateOutcome outcome;
            outcome.kind = OutcomeKind::PortNotOpened;
            outcome.caption = "ERROR";
            std::snprintf(outcome.text, sizeof outcome.text, "CANNOT open %s Port!!!",
                          kHostile.substr(0, 8).c_str());
            screen->Final(outcome, kExitPortFailed, 1);
            screen->Restore();
        }
        const bool json = std::string(c.name) == "json";
        const std::string events = json ? io.Out() : "";
        // The terminal's own sequences (the cursor, the clear to the end of the line) aside.
        const std::string people = fixture::WithoutCursor(io.Err() + (json ? "" : io.Out()));
        EXPECT_EQ(people.find_first_of("\033\a\x9B"), std::string::npos) << c.name << people;
        EXPECT_NE(people.find("AB\\x1B]0;PWNED\\x07"), std::string::npos) << c.name << people;
        if (!events.empty()) {
            EXPECT_NE(events.find("AB\\u001b]0;PWNED\\u0007\\u001b[31mRED"), std::string::npos)
                << events;
        }
    }
}

}  // namespace
}  // namespace fwburn::console

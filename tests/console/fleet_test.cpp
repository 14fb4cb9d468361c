#include "ui/console/session/targets.hpp"
#include "ui/console/show/board.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "tests/console/screen_fixture.hpp"
#include "ui/console/session/outcome.hpp"
#include "ui/console/show/shown_text.hpp"

namespace fwburn::console {
namespace {

TEST(FleetTest, TheWorstOutcomeGivesTheStatusInAFixedOrder) {
    struct Case {
        std::vector<int> codes;
        int worst;
    };
    const Case cases[] = {
        {{0, 0, 0}, 0}, {{0, 8, 0}, 8},  // a cancel wrote nothing: anything else comes before it
        {{8, 6, 0}, 6}, {{4, 0, 6}, 6},  // the order is fixed, not the first one met
        {{3, 5, 4}, 5}, {{6, 7, 5}, 7},  // an erased controller comes first of all
        {{1, 3, 8}, 3}, {{1, 8, 0}, 1},
        {{0, 2}, 2},  // a status outside the order still counts as a failure
        {{8, 2}, 2},  // and comes before a cancel
        {{}, 0},
    };
    for (const Case& c : cases) {
        std::string codes;
        for (const int code : c.codes) {
            codes += std::to_string(code) + " ";
        }
        EXPECT_EQ(WorstExitCode(c.codes), c.worst) << codes;
    }
}

// A signal ends the run with its own status, which the JSON summary carries too, even beside a
// controller that had failed before it: the summary and the process's status never disagree.
TEST(FleetTest, TheSummaryOfARunEndedByASignalCarriesTheSignalsStatus) {
    const std::vector<SummaryRow> rows = {
        {"usb 1-1.2", 7, 12.0, "ERROR: ...", "/dev/ttyACM0"},
        {"usb 1-1.3", 143, 20.0, "interrupted by SIGTERM", "/dev/ttyACM1", true},
    };
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(ShowSummary(out, rows, true, 0, 20.0, "SIGTERM", 143), 143);
    std::rewind(out);
    std::string line(4096, '\0');
    line.resize(std::fread(line.data(), 1, line.size(), out));
    std::fclose(out);
    const nlohmann::json summary = nlohmann::json::parse(line);
    EXPECT_EQ(summary["exitCode"], 143) << line;
    EXPECT_EQ(summary["result"], "interrupted") << line;
    EXPECT_EQ(summary["signal"], "SIGTERM") << line;
    EXPECT_EQ(summary["controllers"][0]["exitCode"], 7) << line;
    EXPECT_EQ(summary["controllers"][1]["result"], "interrupted") << line;
}

TEST(FleetTest, TargetsAreKnownBySocketAndSerialNeverByTty) {
    const Target usb{"/dev/ttyACM0", "1-1.2", "ZL5-0042"};
    EXPECT_EQ(usb.Identity(), "usb 1-1.2 serial ZL5-0042");
    EXPECT_EQ(usb.Label(), "1-1.2");
    const Target bare{"/dev/ttyACM1", "1-1.3", ""};
    EXPECT_EQ(bare.Identity(), "usb 1-1.3");
    const Target serial{"/dev/ttyUSB0", "", ""};
    EXPECT_EQ(serial.Identity(), "/dev/ttyUSB0");
    EXPECT_EQ(serial.Label(), "ttyUSB0");
}

// ttyACM0 and ttyACM1 are two ttys of one USB device.
struct TwoTtysOfOneDevice : PortFinder {
    std::vector<UsbPort> Controllers() override {
        return {{"/dev/ttyACM0", "1-1.2", "S", "", kControllerVendorId, kControllerProductId,
                 "1-1.2:1.0"},
                {"/dev/ttyACM1", "1-1.2", "S", "", kControllerVendorId, kControllerProductId,
                 "1-1.2:1.2"}};
    }
    std::vector<std::string> SerialPorts() override { return {}; }
    std::optional<UsbPort> Describe(const std::string& port) override {
        return Controllers()[port == "/dev/ttyACM1"];
    }
    std::string DeviceKey(const std::string& port) override { return port; }
    std::string LockIdentity(const std::string& port) override { return port; }
};

TEST(FleetTest, EachControllerIsTakenOnceThroughTheTtyNamed) {
    const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
        {{"/dev/ttyACM1"}, {"1-1.2:1.2"}},
        {{}, {"1-1.2:1.0"}},
        {{"/dev/ttyACM0", "/dev/ttyACM1"}, {}}};
    for (const auto& [given, interfaces] : cases) {
        Options options;
        options.ports = given;
        options.all = given.empty();
        TwoTtysOfOneDevice ports;
        const TargetChoice choice = ChooseTargets(options, true, false, "ZL500", ports);
        std::vector<std::string> chosen;
        for (const Target& target : choice.targets) {
            chosen.push_back(target.usbInterface);
        }
        EXPECT_EQ(chosen, interfaces) << choice.error;
    }
}

// USB devices that are not the controller: an adapter, and the controller's vendor with another
// product.
struct OtherUsbDevices : TwoTtysOfOneDevice {
    std::optional<UsbPort> Describe(const std::string& port) override {
        if (port == "/dev/ttyUSB0") {
            return UsbPort{port, "1-1.4", "X", "", "0403", kControllerProductId};
        }
        return UsbPort{port, "1-1.5", "Y", "", kControllerVendorId, "0002"};
    }
};

// Pinned, such a port would be looked for at the reopen as a controller in its socket, and never
// found after the update request was accepted.
TEST(FleetTest, OnlyTheControllersOwnDeviceIsPinned) {
    Options options;
    options.ports = {"/dev/ttyUSB0", "/dev/ttyACM9"};
    OtherUsbDevices ports;
    const TargetChoice choice = ChooseTargets(options, true, false, "ZL500", ports);
    ASSERT_EQ(choice.targets.size(), 2u) << choice.error;
    for (const Target& target : choice.targets) {
        EXPECT_FALSE(target.pinned()) << target.port;
    }
}

// Ports that are neither USB controllers nor alike in any way but their names.
struct NamedPorts : TwoTtysOfOneDevice {
    std::optional<UsbPort> Describe(const std::string&) override { return std::nullopt; }
};

TEST(FleetTest, PortsWhoseShortTagsAgreeAreToldApart) {
    Options options;
    options.ports = {"/by-id/usb-FTDI_A1-port0", "/by-id/usb-FTDI_B2-port0", "/a/ttyUSB0",
                     "/b/ttyUSB0", "/dev/ttyS0"};
    NamedPorts ports;
    std::vector<std::string> tags;
    for (const Target& t : ChooseTargets(options, false, false, "RV7-G", ports).targets) {
        tags.push_back(t.Label());
    }
    EXPECT_EQ(tags, (std::vector<std::string>{"usb-FTDI_A1-port0", "usb-FTDI_B2-port0",
                                              "/a/ttyUSB0", "/b/ttyUSB0", "ttyS0"}));
}

TEST(FleetTest, TheSummaryTableHasAColumnEachAndFitsTheWidth) {
    const std::vector<SummaryRow> results = {
        {"usb 1-1.2", 0, 125.0, "Information: Firmware update is SUCCESSFUL", ""},
        {"/dev/ttyUSB12", 7, 3.2, "ERROR: Firmware update is FAILED", ""},
    };
    const std::vector<std::string> rows = SummaryTable(results, 0);
    ASSERT_EQ(rows.size(), 3u);
    // Every column starts where its heading does.
    const size_t result = rows[0].find("RESULT");
    const size_t message = rows[0].find("MESSAGE");
    EXPECT_EQ(rows[1].find("success"), result);
    EXPECT_EQ(rows[2].find("update-failed"), result);
    EXPECT_EQ(rows[1].find("Information"), message);
    EXPECT_EQ(rows[2].find("ERROR"), message);
    EXPECT_NE(rows[1].find("2:05"), std::string::npos);
    EXPECT_EQ(rows[2].rfind("/dev/ttyUSB12", 0), 0u);

    // A by-id path wider than half the terminal is cut in its middle, its end kept: every
    // controller's result stays in sight. Names of several-byte characters take a column each,
    // whole or cut: the columns line up.
    std::vector<SummaryRow> wide = results;
    wide.push_back({"/dev/serial/by-id/usb-Korvan_PLC_ZL500-AIO_0123456789ABCDEF-if00", 6, 1.0,
                    "ERROR: PLC DOES NOT respond", ""});
    wide.push_back({"/dev/Stromzähler-Öl", 0, 1.0, "Information: Firmware update is", ""});
    wide.push_back({"/dev/serial/by-id/usb-Körvan_Zähler_ÄÖÜ_0123456789-if00", 0, 1.0, "", ""});
    for (const int columns : {0, 40, 60, 80}) {
        const std::vector<std::string> shown = SummaryTable(wide, columns);
        for (const std::string& row : shown) {
            EXPECT_LT(Width(row), columns > 0 ? static_cast<size_t>(columns) : 200u) << row;
            const size_t at = row.find_first_not_of(' ', row.find("  "));
            EXPECT_EQ(Width(row.substr(0, at)), shown[0].find("RESULT")) << row;
        }
        for (size_t i = 0; i < wide.size(); ++i) {
            EXPECT_NE(shown[i + 1].find(ResultName(ExitCode(wide[i].exitCode))), std::string::npos)
                << columns << " " << shown[i + 1];
        }
        EXPECT_NE(shown[3].find("if00"), std::string::npos) << shown[3];
    }
}

// The analog module's 44 blocks, `done` of them programmed.
ProgressView Programming(uint32_t done, int32_t retries) {
    ProgressView view = fixture::Programming(retries, retries);
    view.done = done;
    view.total = 44;
    view.percent = static_cast<int>(done * 100 / 45);
    return view;
}

// A label wider than half the terminal gives way to what the line is for.
TEST(FleetTest, ALongLabelLeavesTheBoardLineItsStatus) {
    // Characters of several bytes take a column each: the status keeps its room.
    for (const std::string label : {"usb-Korvan_PLC_ZL500-AIO_0123456789ABCDEF-if00",
                                    "usb-K\xC3\xB6rvan_Z\xC3\xA4hler_0123456789-"
                                    "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F\xC3\x84\xC3\x96"}) {
        for (const int columns : {40, 60}) {
            const std::string running =
                BoardLine(label, Programming(5, 1), nullptr, false, columns);
            const std::string ended =
                BoardLine(label, Programming(5, 6), "update-failed", false, columns);
            EXPECT_NE(running.find("5/44"), std::string::npos) << running;
            EXPECT_NE(
                ended.find(columns < 60 ? "update-failed" : "update-failed  Programming 5/44"),
                std::string::npos)
                << ended;
            EXPECT_NE(ended.find(TailWithin(label, 5) + " "), std::string::npos) << ended;
        }
    }
}

TEST(FleetTest, AnEndedControllerKeepsItsResultAndWhereItStopped) {
    const ProgressView checks;  // the checks count nothing
    struct Case {
        ProgressView view;
        const char* result;
        bool waiting;
        std::string line;
    };
    const Case cases[] = {
        {Programming(44, 0), "success", false, "1-1.2 success  Programming 44/44 blocks"},
        {Programming(10, 6), "update-failed", false,
         "1-1.2 update-failed  Programming 10/44 blocks  retries 6/6"},
        {checks, "communication-failed", false, "1-1.2 communication-failed"},
        {checks, "cancelled", false, "1-1.2 cancelled"},
        {checks, nullptr, true, "1-1.2 waiting for the replug"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BoardLine("1-1.2", c.view, c.result, c.waiting, 100), c.line);
    }
    // While it runs: the terminal's status line, rate and time left included.
    const std::string running = BoardLine("1-1.2", Programming(10, 0), nullptr, false, 100);
    EXPECT_EQ(running.rfind("1-1.2 Programming", 0), 0u) << running;
    EXPECT_NE(running.find("10/44 blocks"), std::string::npos) << running;
    EXPECT_NE(running.find("ETA"), std::string::npos) << running;

    for (const int columns : {32, 40, 60, 80}) {
        for (const Case& c : cases) {
            const std::string line = BoardLine("1-1.2.4.1", c.view, c.result, c.waiting, columns);
            EXPECT_LT(line.size(), static_cast<size_t>(columns)) << line;
            // An ended line gives way in whole parts: never half a count.
            const std::string full = BoardLine("1-1.2.4.1", c.view, c.result, c.waiting, 100);
            EXPECT_TRUE(c.result == nullptr || line == full || full.rfind(line + "  ", 0) == 0)
                << line;
        }
        const std::string line =
            BoardLine("1-1.2.4.1", Programming(10, 3), nullptr, false, columns);
        EXPECT_LT(line.size(), static_cast<size_t>(columns)) << line;
        EXPECT_EQ(line.find("10/44") != std::string::npos, columns >= 40) << line;
    }
}

// A board taller than the terminal would climb past its top at every redraw and leave a copy in
// its scrollback: it keeps below the top row, failures first, and counts every controller left
// out.
TEST(FleetTest, ABoardTallerThanTheTerminalKeepsToItsRowsFailuresFirst) {
    std::vector<BoardEntry> entries;
    for (int i = 0; i < 20; ++i) {
        BoardEntry e{"c" + std::to_string(i), Programming(10, 0)};
        if (i % 5 == 1) {
            e.result = "success";
        } else if (i == 7 || i == 13) {
            e.result = "update-failed";
            e.failed = true;
        } else if (i == 18) {
            e.waiting = true;
        }
        entries.push_back(e);
    }
    const auto labels = [](const std::vector<std::string>& lines) {
        std::string out;
        for (const std::string& line : lines) {
            out += line.substr(0, line.find(' ')) + " ";
        }
        return out;
    };
    struct Case {
        int rows;
        std::string labels;  // each line's first word
        std::string last;    // how the last line begins
    };
    const Case cases[] = {
        {0, "c0 c1 c2 c3 c4 c5 c6 c7 c8 c9 c10 c11 c12 c13 c14 c15 c16 c17 c18 c19 ", "c19"},
        {22, "c0 c1 c2 c3 c4 c5 c6 c7 c8 c9 c10 c11 c12 c13 c14 c15 c16 c17 c18 c19 ", "c19"},
        {21, "c7 c13 c18 c0 c2 c3 c4 c5 c8 c9 c10 c12 c14 c15 c17 c19 c1 c6 +2 ",
         "+2 more: 2 succeeded"},
        {11, "c7 c13 c18 c0 c2 c3 c4 c5 +12 ", "+12 more: 8 running, 4 succeeded"},
        {4, "c7 +19 ", "+19 more: 1 failed, 1 waiting, 13 running, 4 succeeded"},
        {3, "+20 ", "+20 more: 2 failed, 1 waiting, 13 running, 4 succeeded"},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> lines = BoardLines(entries, 80, c.rows);
        EXPECT_EQ(labels(lines), c.labels) << c.rows;
        EXPECT_EQ(lines.back().rfind(c.last, 0), 0u) << c.rows << ": " << lines.back();
    }
    EXPECT_EQ(BoardLines(entries, 20, 11).back(), "+12 more: 8 running");
}

// A summary taller than the terminal scrolls its first rows out of sight: the line after it says
// which controllers did not succeed, so that a screen of successes is not read as all of them.
TEST(FleetTest, ASummaryTallerThanTheTerminalEndsNamingTheFailures) {
    std::vector<SummaryRow> rows;
    for (int i = 0; i < 20; ++i) {
        rows.push_back({"/dev/pts/" + std::to_string(i),
                        i == 2   ? 7
                        : i == 5 ? 5
                                 : 0,
                        7.0, "m", "", false});
    }
    const std::string failures =
        "Not succeeded: 2 of 20: /dev/pts/2 update-failed, /dev/pts/5 controller-refused";
    struct Case {
        int rows;
        int columns;
        std::string tail;
    };
    const Case cases[] = {
        {0, 100, ""},   // not a terminal: the table is all
        {23, 100, ""},  // it fits, with the line the cursor is left on
        {22, 100, failures},
        {10, 50, failures.substr(0, 46) + "..."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SummaryTail(rows, c.columns, c.rows), c.tail) << c.rows;
    }
    rows[2].exitCode = rows[5].exitCode = 0;
    EXPECT_EQ(SummaryTail(rows, 100, 10), "");
}

}  // namespace
}  // namespace fwburn::console

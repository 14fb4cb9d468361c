// --info's table and JSON objects from probe reports: the columns of every kind of answer, the
// reason line of a controller the image does not fit, the status of each port; and the option.
#include "ui/console/cli/options.hpp"
#include "ui/console/show/info_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/profile.hpp"
#include "protocol/result_codes.hpp"
#include "ui/console/cli/options.hpp"
#include "ui/console/session/outcome.hpp"
#include "ui/console/show/shown_text.hpp"

namespace fwburn::console {
namespace {

// The tests link the ZL500's profile.
int ProgramRowForTest() {
    return FindModelRow("ZL500");
}

InfoRow Answered(const char* port, uint8_t mode, const char* models, bool fits,
                 const char* why = "") {
    InfoRow row;
    row.port = port;
    row.opened = true;
    row.report.mode = mode;
    row.report.targetByte = 0x59;
    std::snprintf(row.report.models, sizeof row.report.models, "%s", models);
    row.report.fits = fits;
    std::snprintf(row.report.why, sizeof row.report.why, "%s", why);
    return row;
}

std::vector<InfoRow> Rows() {
    InfoRow zl500 = Answered("/dev/ttyACM0", kApplicationMode, "ZL500", true);
    zl500.report.idRead = true;
    zl500.report.id = 0x3010;
    zl500.report.versionRead = true;
    zl500.report.version = 0x10;
    InfoRow kt5 = Answered("/dev/ttyUSB1", kApplicationMode, "RV7-KT5", false,
                           "Check PLC, RV7-KT5 is different than RV7-G");
    kt5.report.idRead = true;
    kt5.report.id = 0x000C;
    kt5.report.variantRegister = VariantRegister::D1386;
    kt5.report.variantRead = true;
    kt5.report.variantValue = 0x4135;
    InfoRow boot = Answered("/dev/ttyACM2", kBootMode, "ZL500", true);
    boot.report.bootIdRead = true;
    boot.report.bootId = 0x3010;
    InfoRow aio = Answered("/dev/ttyACM3", kApplicationMode, "ZL500-AIO", false, "at 0x5B");
    aio.report.idRead = true;
    aio.report.id = 0x3010;
    aio.report.otherAddress = true;
    aio.report.targetByte = 0x5B;
    InfoRow silent =
        Answered("/dev/ttyACM4", kNoAcceptableReply, "", false, "NO RESPONSE @ State 1");
    silent.report.silence.finding = Finding::NoBytes;
    InfoRow run = Answered("/dev/ttyS0", kRunMode, "", false, "PLC in RUN MODE");
    InfoRow closed;
    closed.port = "/dev/ttyACM9";
    closed.openFailure = "/dev/ttyACM9: permission denied";
    closed.denied = true;
    // Bytes came, then the line hung up: the cable pulled, not a controller of another kind.
    InfoRow gone = Answered("/dev/ttyACM5", kNoAcceptableReply, "", false, "NO RESPONSE @ State 1");
    gone.report.silence.finding = Finding::OnlyEarlier;
    gone.hungUp = true;
    return {zl500, kt5, boot, aio, silent, run, closed, gone};
}

TEST(InfoTable, ARowPerPortThenWhyEachDoesNotFit) {
    const std::vector<std::string> lines = InfoTable(Rows(), ProgramRowForTest());
    ASSERT_EQ(lines.size(), 1u + 8u + 6u);
    const std::vector<std::vector<std::string>> columns = {
        {"PORT", "MODE", "MODEL", "ID", "VARIANT", "BOOTLOADER", "FITS"},
        {"/dev/ttyACM0", "application", "ZL500", "0x3010", "-", "1.0", "yes"},
        {"/dev/ttyUSB1", "application", "RV7-KT5", "0x000C", "D1386=0x4135", "-", "no"},
        {"/dev/ttyACM2", "bootloader", "ZL500", "boot", "0x3010", "-", "-", "yes"},
        {"/dev/ttyACM3", "application", "ZL500-AIO", "0x3010", "@0x5B", "-", "-", "no"},
        {"/dev/ttyACM4", "no", "answer", "-", "-", "-", "-", "no"},
        {"/dev/ttyS0", "run", "mode", "-", "-", "-", "-", "no"},
        {"/dev/ttyACM9", "not", "opened", "-", "-", "-", "-", "no"},
        {"/dev/ttyACM5", "no", "answer", "-", "-", "-", "-", "no"},
    };
    for (size_t i = 0; i < columns.size(); ++i) {
        std::vector<std::string> words;
        size_t at = 0;
        const std::string& line = lines[i];
        while ((at = line.find_first_not_of(' ', at)) != std::string::npos) {
            const size_t end = line.find(' ', at);
            words.push_back(line.substr(at, end - at));
            at = end;
        }
        EXPECT_EQ(words, columns[i]) << line;
        // The columns line up: FITS starts at the same place on every line.
        EXPECT_EQ(line.rfind(' ') + 1, lines[0].find("FITS")) << line;
    }
    EXPECT_EQ(lines[9], "/dev/ttyUSB1: Check PLC, RV7-KT5 is different than RV7-G");
    EXPECT_EQ(lines[10], "/dev/ttyACM3: at 0x5B");
    EXPECT_EQ(lines[11].rfind("/dev/ttyACM4: NO RESPONSE @ State 1: not one byte came back", 0),
              0u);
    EXPECT_EQ(lines[12], "/dev/ttyS0: PLC in RUN MODE");
    EXPECT_EQ(lines[13].rfind("/dev/ttyACM9: permission denied; no permission", 0), 0u)
        << lines[13];
    EXPECT_NE(lines[13].find("udev rule"), std::string::npos);
    EXPECT_EQ(lines[14],
              "/dev/ttyACM5: NO RESPONSE @ State 1: the port went away under the look (the line "
              "hung up: the cable pulled, or the PLC's power lost): check the cable and the PLC's "
              "power");
}

// Breaks `text` into its lines, each of which must leave the terminal's last column free.
std::vector<std::string> LinesWithin(const std::string& text, int columns) {
    std::vector<std::string> lines;
    std::istringstream each(text);
    for (std::string line; std::getline(each, line);) {
        EXPECT_LT(line.size(), static_cast<size_t>(columns)) << line;
        lines.push_back(line);
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += (text.empty() ? "" : " ") + line;
    }
    return text;
}

// On a terminal every line leaves the last column free: the table as it is where it fits, each
// port on lines of its own where it does not; the reasons and the stand-in note are broken
// between words, none cut.
TEST(InfoTable, OnATerminalEveryLineFitsAndKeepsItsWords) {
    const std::vector<std::string> whole = InfoTable(Rows(), ProgramRowForTest());
    const size_t notes = 6;
    const std::string standIn =
        "This test build's image is a stand-in of random bytes, not a firmware: written into a "
        "PLC it leaves the PLC unusable.";
    size_t widest = 0;
    for (size_t i = 0; i < 9; ++i) {
        widest = std::max(widest, whole[i].size());
    }
    const int tableWidth = static_cast<int>(widest);
    for (const int columns : {40, 57, 80, tableWidth, tableWidth + 1}) {
        const std::vector<std::string> lines = InfoTable(Rows(), ProgramRowForTest(), columns);
        ASSERT_GT(lines.size(), notes);
        const size_t table = lines.size() - notes;
        if (columns > tableWidth) {
            EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + table),
                      std::vector<std::string>(whole.begin(), whole.begin() + 9));
        }
        for (size_t i = 0; i < table; ++i) {
            EXPECT_LT(lines[i].size(), static_cast<size_t>(columns)) << lines[i];
        }
        for (size_t i = table; i < lines.size(); ++i) {
            EXPECT_EQ(Joined(LinesWithin(lines[i], columns)), whole[9 + i - table]) << columns;
        }
        char* text = nullptr;
        size_t size = 0;
        std::FILE* out = open_memstream(&text, &size);
        ShowInfo(out, {Rows()[0]}, "fwburn-cpu-cli", ProgramRowForTest(), false, true, columns);
        std::fclose(out);
        const std::string shown(text, size);
        std::free(text);
        const std::vector<std::string> note =
            LinesWithin(shown.substr(shown.find("This")), columns);
        EXPECT_EQ(Joined(note), standIn) << columns;
    }
}

TEST(InfoTable, ATableWiderThanTheTerminalGivesEachPortItsOwnLines) {
    const std::vector<InfoRow> all = Rows();
    InfoRow byId = all[3];
    byId.port = "/dev/serial/by-id/usb-Korvan_ZL500-AIO_0123456789-if00";
    EXPECT_EQ(InfoTable({all[0], byId, all[6]}, ProgramRowForTest(), 80),
              (std::vector<std::string>{
                  "/dev/ttyACM0",
                  "  mode application, model ZL500, ID 0x3010, bootloader 1.0, fits yes",
                  byId.port,
                  "  mode application, model ZL500-AIO, ID 0x3010 @0x5B, fits no",
                  "/dev/ttyACM9",
                  "  mode not opened, fits no",
                  byId.port + ": at 0x5B",
                  InfoTable({all[6]}, ProgramRowForTest(), 80).back(),
              }));
    EXPECT_EQ(InfoTable({all[1]}, ProgramRowForTest(), 40)[1],
              "  mode application, model RV7-KT5,");

    // A name of several-byte characters takes a column each: the columns still line up.
    InfoRow named = all[0];
    named.port = "/dev/Stromzähler-Öl";
    const std::vector<std::string> lines = InfoTable({named, all[1]}, ProgramRowForTest());
    ASSERT_EQ(lines.size(), 4u);  // the header, two rows, the RV7-KT5's reason
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(Width(lines[i].substr(0, lines[i].rfind(' ') + 1)), lines[0].find("FITS"))
            << lines[i];
    }
}

TEST(InfoExitCode, AnsweredOpenFailedOrSilent) {
    const std::vector<InfoRow> rows = Rows();
    const int expected[] = {0, 0, 0, 0, kExitCommFailed, 0, kExitPortFailed, kExitCommFailed};
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(InfoExitCode(rows[i]), expected[i]) << rows[i].port;
    }
    // Several ports: the worst of them, wherever it stands among them.
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    for (const bool json : {false, true}) {
        EXPECT_EQ(ShowInfo(out, {rows[6], rows[4], rows[0]}, "fwburn-cpu-cli", ProgramRowForTest(),
                           json, false, 0),
                  kExitCommFailed);
    }
    std::fclose(out);
}

TEST(InfoJson, OneObjectPerPortWithNullsForWhatWasNotRead) {
    std::vector<InfoRow> rows = Rows();
    // Refused before any port was taken, and cut short by a signal: their own status.
    InfoRow refused;
    refused.openFailure = "--info: no controller found on the USB link";
    refused.status = kExitUsage;
    InfoRow cut;
    cut.port = "/dev/ttyACM7";
    cut.openFailure = "interrupted by SIGTERM";
    cut.signal = "SIGTERM";
    cut.status = 143;
    rows.push_back(refused);
    rows.push_back(cut);
    const std::string prefix =
        R"({"event":"info","program":"fwburn-cpu-cli","model":"ZL500","standIn":)" +
        std::string(ThisBuildProfile().standInImage ? "true" : "false") + R"(,"port":)";
    struct Case {
        size_t row;
        std::vector<std::string> parts;
    } cases[] = {
        {0,
         {R"("opened":true,"answered":true,"mode":"application","address":"0x59",)"
          R"("otherAddress":false,"modelId":12304,"bootId":null,"models":"ZL500",)"
          R"("variantRegister":null,"variantValue":null,"bootloaderVersion":"1.0",)"
          R"("fits":true,"why":null,"exitCode":0})"}},
        {1, {R"("variantRegister":"D1386","variantValue":16693)", R"("fits":false,"why":"Check)"}},
        {2, {R"("mode":"bootloader")", R"("modelId":null,"bootId":12304,"models":"ZL500")"}},
        {3, {R"("address":"0x5B","otherAddress":true)"}},
        {4, {R"("answered":false,"mode":"no answer")", R"("models":null)", R"("exitCode":6})"}},
        {6,
         {R"("opened":false,"answered":false,"mode":"not opened","address":null,)"
          R"("otherAddress":null,"modelId":null)",
          R"("exitCode":4})"}},
        {8,
         {R"("opened":false,"answered":false,"mode":"not opened")",
          R"("why":"--info: no controller found on the USB link","exitCode":2})"}},
        {9,
         {R"("opened":null,"answered":false,"mode":"interrupted","address":null)",
          R"("why":"interrupted by SIGTERM","exitCode":143,"signal":"SIGTERM"})"}},
    };
    for (const Case& c : cases) {
        const std::string line = InfoJson(rows[c.row], "fwburn-cpu-cli", ProgramRowForTest());
        const std::string& port = rows[c.row].port;
        EXPECT_EQ(line.rfind(prefix + (port.empty() ? "null" : "\"" + port + "\""), 0), 0u) << line;
        EXPECT_EQ(line.back(), '\n');
        EXPECT_EQ(line.find('\n'), line.size() - 1);
        for (const std::string& part : c.parts) {
            EXPECT_NE(line.find(part), std::string::npos) << line << "\nlacks: " << part;
        }
    }
}

TEST(InfoOption, GoesAloneAndTakesPorts) {
    ParsedCommandLine p = ParseCommandLine("fwburn-cpu-cli", "ZL500",
                                           {"--info", "--port", "/dev/a", "--port", "/dev/b"});
    ASSERT_TRUE(p.run) << p.error;
    EXPECT_TRUE(p.options.info);
    EXPECT_EQ(p.options.ports, (std::vector<std::string>{"/dev/a", "/dev/b"}));
    for (const char* other : {"--version", "--list-ports"}) {
        p = ParseCommandLine("fwburn-cpu-cli", "ZL500", {"--info", other});
        EXPECT_FALSE(p.run) << other;
        EXPECT_EQ(p.exitCode, kExitUsage);
        EXPECT_NE(p.error.find("--info"), std::string::npos) << p.error;
    }
}

}  // namespace
}  // namespace fwburn::console

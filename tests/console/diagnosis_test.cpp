// The console's words about what went wrong, said before the final message: one finding per kind
// of ending the worker reports, the catalogue's names for the ID the PLC gave, the access a
// denied port needs; and the operator carrying a denied open to the final message.
#include "ui/console/show/diagnosis.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ui/console/session/console_operator.hpp"
#include "ui/console/show/screen.hpp"

namespace fwburn::console {
namespace {

UpdateOutcome Ending(OutcomeKind kind, Finding finding = Finding::None, uint16_t id = 0,
                     bool bootloader = false, const char* sample = "") {
    UpdateOutcome o;
    o.kind = kind;
    o.diagnosis.finding = finding;
    o.diagnosis.id = id;
    o.diagnosis.bootloader = bootloader;
    o.diagnosis.sampleLength = static_cast<uint8_t>(std::strlen(sample));
    std::memcpy(o.diagnosis.sample, sample, o.diagnosis.sampleLength);
    o.diagnosis.bytesReceived = o.diagnosis.sampleLength * 3u;
    return o;
}

struct ExplainCase {
    const char* name;
    const char* program;  // the model the program updates
    BootIdRule rule;
    UpdateOutcome outcome;
    bool denied;
    const char* finding;  // "" for nothing to add
    std::vector<const char*> says;
    const char* models;
    const char* openFailure = "";  // why the update's last open failed
    bool hungUp = false;           // the line went away under the update
};

std::vector<ExplainCase> Cases() {
    const auto kComm = OutcomeKind::CommunicationFailed;
    const auto kRefused = OutcomeKind::ControllerRefused;
    const auto kCpu = BootIdRule::Cpu;
    return {
        {"a ZL600 on the ZL500 program",
         "ZL500",
         kCpu,
         Ending(kComm, Finding::WrongModel, 0x3000),
         false,
         "wrong-model",
         {"model ID 0x3000 (ZL600)", "updates ZL500 (ID 0x3010)"},
         "ZL600"},
        {"an ID two models share",
         "RV7-J",
         kCpu,
         Ending(kComm, Finding::WrongModel, 0x000C),
         false,
         "wrong-model",
         {"0x000C (RV7-KT5 or RV7-G)"},
         "RV7-KT5 or RV7-G"},
        {"an ID nobody has",
         "ZL500",
         kCpu,
         Ending(kComm, Finding::WrongModel, 0x4242),
         false,
         "wrong-model",
         {"0x4242 (a model this program does not know)"},
         ""},
        {"another bootloader",
         "ZL500",
         kCpu,
         Ending(kRefused, Finding::WrongModel, 0x3000, true),
         false,
         "wrong-model",
         {"bootloader answered ID 0x3000 (ZL600 or FYB-W)"},
         "ZL600 or FYB-W"},
        {"the same bootloader ID under the AIO rule",
         "ZL500-AIO",
         BootIdRule::Aio,
         Ending(kRefused, Finding::WrongModel, 0x3000, true),
         false,
         "wrong-model",
         {"bootloader answered ID 0x3000 (a model this program does not know)"},
         ""},
        {"silence",
         "ZL500",
         kCpu,
         Ending(kComm, Finding::NoBytes),
         false,
         "no-bytes",
         {"not one byte came back", "cable", "power"},
         nullptr},
        {"the wake-up only",
         "ZL500",
         kCpu,
         Ending(kComm, Finding::OnlyEarlier, 0, false, ":007F0081\r\n"),
         false,
         "only-earlier",
         {"last: \":007F0081\\r\\n\"", "ZL500 at address 0x59", "--info"},
         nullptr},
        {"the line gone quiet after the model's ID",
         "ZL500",
         kCpu,
         [] {
             UpdateOutcome o = Ending(kComm, Finding::OnlyEarlier, 0, false,
                                      "\x06"
                                      "0\x10");
             o.diagnosis.modelConfirmed = true;
             return o;
         }(),
         false,
         "only-earlier",
         {"after it had answered as a ZL500", "cable"},
         nullptr},
        {"bytes but no reply",
         "MN6",
         kCpu,
         Ending(kComm, Finding::NoValidReply, 0, false, "~~~"),
         false,
         "no-valid-reply",
         {"to this request was no valid reply", "\"~~~\"; 9 bytes in all"},
         nullptr},
        // After the update request: a serial port may not be opened again, or the reopened one
        // stayed silent (the worker's test has a USB port that did not come back).
        {"a serial port reopened denied",
         "RV7-G",
         kCpu,
         Ending(kComm, Finding::NotReopened),
         true,
         "permission-denied",
         {"may not be opened again", "group dialout"},
         nullptr,
         "/dev/ttyUSB0: permission denied"},
        // A controller that vanished had answered before: not a controller of another model.
        {"the line hung up after earlier answers",
         "ZL500",
         kCpu,
         Ending(kComm, Finding::OnlyEarlier, 0, false, ":007F0081\r\n"),
         false,
         "hung-up",
         {"the port went away", "cable", "power"},
         nullptr,
         "",
         true},
        {"silent since the reopen",
         "ZL500",
         kCpu,
         Ending(kComm, Finding::SilentSinceReopen, 0, false, ":007F0081\r\n"),
         false,
         "silent-since-reopen",
         {"answered before its port was reopened", "last: \":007F0081\\r\\n\""},
         nullptr},
        {"erased",
         "ZL500",
         kCpu,
         Ending(OutcomeKind::FailedAfterErase),
         false,
         "erased",
         {"run the update again to recover the PLC"},
         nullptr},
        {"erased on a line that doubles the replies",
         "ZL500",
         kCpu,
         [] {
             UpdateOutcome o = Ending(OutcomeKind::FailedAfterErase);
             o.surplusBytes = 88;
             return o;
         }(),
         false,
         "erased",
         {"run the update again", "88 bytes came beyond the replies", "echoes or repeats"},
         nullptr},
        {"erased, then the line hung up",
         "ZL500",
         kCpu,
         Ending(OutcomeKind::FailedAfterErase),
         false,
         "hung-up",
         {"the port went away", "cable", "the PLC's firmware is gone", "run the update again"},
         nullptr,
         "",
         true},
        {"erased on a serial link",
         "RV7-G",
         kCpu,
         Ending(OutcomeKind::FailedAfterErase),
         false,
         "erased",
         {"power-cycle the PLC, then run the update again"},
         nullptr},
        {"a USB port denied",
         "ZL500",
         kCpu,
         Ending(OutcomeKind::PortNotOpened),
         true,
         "permission-denied",
         {"udev rule", "70-fwburn.rules",
          "from an SSH login, or for a serial adapter, join the group dialout"},
         nullptr},
        {"a serial port denied",
         "RV7-G",
         kCpu,
         Ending(OutcomeKind::PortNotOpened),
         true,
         "permission-denied",
         {"group dialout"},
         nullptr},
        // Nothing to add: the message says it all, or nothing went wrong.
        {"a busy port", "ZL500", kCpu, Ending(OutcomeKind::PortNotOpened), false, "", {}, nullptr},
        {"an error reply", "MN6", kCpu, Ending(kRefused), false, "", {}, nullptr},
        {"success", "ZL500", kCpu, Ending(OutcomeKind::Success), false, "", {}, nullptr},
        {"cancelled", "ZL500", kCpu, Ending(OutcomeKind::Cancelled), false, "", {}, nullptr},
        {"image refused", "ZL500", kCpu, Ending(OutcomeKind::ImageRefused), false, "", {}, nullptr},
    };
}

TEST(Explain, OneFindingPerEnding) {
    for (const ExplainCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const Explanation e =
            Explain(c.outcome, FindModelRow(c.program), c.rule, c.denied, c.openFailure, c.hungUp);
        EXPECT_EQ(e.finding, c.finding);
        EXPECT_EQ(e.text.empty(), std::string(c.finding).empty()) << e.text;
        for (const char* part : c.says) {
            EXPECT_NE(e.text.find(part), std::string::npos) << e.text << "\nlacks: " << part;
        }
        if (c.models != nullptr) {
            EXPECT_TRUE(e.hasId);
            EXPECT_EQ(e.models, c.models);
        }
    }
}

TEST(Printable, BytesAPersonCanRead) {
    const uint8_t bytes[] = {':', '0', 0x06, '\r', '\n', '"', '\\', 0xFF, 0x7F};
    EXPECT_EQ(Printable(bytes, sizeof bytes), ":0\\x06\\r\\n\\\"\\\\\\xFF\\x7F");
    EXPECT_EQ(Printable(bytes, 0), "");
}

std::string Read(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[512];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        text.append(buf, n);
    }
    return text;
}

// The program linked here is the ZL500's: the line names it, in both forms, before the outcome.
TEST(Diagnose, StderrLineAndJsonEventBeforeTheOutcome) {
    for (const ScreenMode mode : {ScreenMode::kPlain, ScreenMode::kJson}) {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        {
            auto screen = Screen::Make(mode, out, err);
            RunInfo info;
            info.program = "fwburn-cpu-cli";
            info.row = FindModelRow("ZL500");
            screen->Start(info);
            const UpdateOutcome o =
                Ending(OutcomeKind::CommunicationFailed, Finding::WrongModel, 0x3000);
            screen->Diagnose(o, false);
            screen->Final(o, kExitCommFailed, 1.0);
        }
        const std::string o = Read(out);
        const std::string e = Read(err);
        const size_t said = e.find("fwburn-cpu-cli: the PLC answered model ID 0x3000 (ZL600)");
        EXPECT_NE(said, std::string::npos) << e;
        EXPECT_LT(said, e.find("ERROR") == std::string::npos ? e.size() : e.find("ERROR"));
        if (mode == ScreenMode::kJson) {
            const size_t event = o.find(R"({"event":"diagnosis","finding":"wrong-model")");
            ASSERT_NE(event, std::string::npos) << o;
            EXPECT_NE(
                o.find(R"("id":12288,"idHex":"0x3000","from":"application","models":"ZL600")"),
                std::string::npos)
                << o;
            EXPECT_LT(event, o.find(R"("event":"outcome")"));
        }
        std::fclose(out);
        std::fclose(err);
    }
}

class RecordingFrontEnd : public FrontEnd {
  public:
    std::vector<Request> finals;
    Answer Send(Request r) override {
        if (r.kind == Request::kFinal) {
            finals.push_back(r);
        }
        return Answer::Ok;
    }
    void Sleep(int) override {}
};

class DeniedLink : public Link {
  public:
    bool denied = true;
    Device* Open(bool, std::string& why) override {
        why = "/dev/ttyUSB0: permission denied";
        return nullptr;
    }
    void Close(Device*) override {}
    std::string OpenedPath() const override { return ""; }
    bool LastOpenDenied() const override { return denied; }
};

TEST(Diagnose, TheOperatorCarriesADeniedOpenToTheFinalMessage) {
    for (const bool denied : {true, false}) {
        RecordingFrontEnd fe;
        DeniedLink link;
        link.denied = denied;
        ConsoleOperator op(fe, link, true);
        EXPECT_EQ(op.OpenSerial("ttyUSB0"), &ClosedDevice());
        UpdateOutcome o;
        o.kind = OutcomeKind::PortNotOpened;
        op.ShowOutcome(o);
        ASSERT_EQ(fe.finals.size(), 1u);
        EXPECT_EQ(fe.finals[0].denied, denied);
    }
}

}  // namespace
}  // namespace fwburn::console

// The application firmware, driven by raw request texts: replies, faults, violations, and the
// way each kind of model reaches its bootloader after an accepted update request.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/sim/sim_test_support.hpp"
#include "tests/support/replies.hpp"

namespace fwburn::sim {
namespace {

using fwburn::test::AsciiReply;
using fwburn::test::ReplyOptions;
using test::Bench;
using test::MakeConfig;

const char* const kWake = ":007F81\r\n";
const char* const kMode = ":006401590141\r\n";
const char* const kId = ":006401594944B5\r\n";
const char* const kD1386 = ":0003156A00017D\r\n";
const char* const kD1148 = ":0003147C00016C\r\n";
const char* const kVersion = ":00640159053D\r\n";
const char* const kUpdate = ":006401594552415345D2\r\n";
const char* const kAck = ":00640159063C\r\n";
const char* const kAioMode = ":0064015B013F\r\n";
const char* const kAioId = ":0064015B4944B3\r\n";

std::string Command(uint8_t target, uint8_t b4, uint8_t b5, uint8_t b6, ReplyOptions o = {}) {
    return AsciiReply({0x00, 0x64, 0x01, target, b4, b5, b6}, o);
}

TEST(SimApplication, AnswersEachRequestAsItsModelDoes) {
    const struct {
        const char* model;
        const char* request;
        uint32_t length;
        std::string reply;
    } cases[] = {
        {"MN6", kWake, 11, ":007F0081\r\n"},
        {"MN6", kMode, 19, ":006401590500003D\r\n"},
        {"ZL500-AIO", kAioMode, 19, Command(0x5B, 5, 0, 0)},
        {"MN6", kId, 19, ":0064015906000E2E\r\n"},
        {"RV7-F", kId, 19, Command(0x59, 6, 0xA0, 0x01)},
        {"30KT5-AIO", kAioId, 19, Command(0x5B, 6, 0x00, 0x0D)},
        {"RV7-G", kD1386, 15, ":000302413882\r\n"},
        {"RV7-KT5", kD1386, 15, AsciiReply({0x00, 0x03, 0x02, 0x41, 0x35})},
        {"TQ38", kD1148, 15, AsciiReply({0x00, 0x03, 0x02, 0x00, 28})},
        {"TQ3", kD1148, 15, AsciiReply({0x00, 0x03, 0x02, 0x00, 0x00})},
        {"HU26", kD1148, 15, AsciiReply({0x00, 0x03, 0x02, 0x00, 26})},
        {"ZL500-AIO", kVersion, 19, Command(0x59, 0x10, 0, 0)},
        {"ZL500", kUpdate, 19, Command(0x59, 6, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.request);
        Bench b(MakeConfig(c.model, 4096));
        const bool aio = b.controller.model().analogModule;
        b.Ask(aio ? kAioMode : kMode, 19);
        b.Ask(aio ? kAioId : kId, 19);
        EXPECT_EQ(b.Ask(c.request, c.length), c.reply);
        EXPECT_EQ(b.controller.violations(), std::vector<std::string>{});
    }
}

TEST(SimApplication, ReachesTheBootloaderTheWayItsModelDoes) {
    {  // restarts by itself half a second after the host's acknowledgement
        Bench b(MakeConfig("MN6", 4096));
        b.Ask(kMode, 19);
        b.Ask(kId, 19);
        b.Ask(kUpdate, 19);
        b.Send(kAck);
        EXPECT_EQ(b.controller.state(), State::kRestarting);
        b.link.AdvanceMs(499);
        EXPECT_EQ(b.controller.state(), State::kRestarting);
        b.link.AdvanceMs(1);
        EXPECT_EQ(b.controller.state(), State::kBootloader);
    }
    {  // waits for the USB cable
        Bench b(MakeConfig("HU", 4096));
        b.Ask(kMode, 19);
        b.Ask(kId, 19);
        b.Ask(kUpdate, 19);
        b.Send(kAck);
        b.link.AdvanceMs(60000);
        EXPECT_EQ(b.controller.state(), State::kAwaitingReplug);
        b.link.Replug();
        EXPECT_EQ(b.controller.state(), State::kBootloader);
    }
    {  // goes quiet and waits to be switched off and on; a replug means nothing to it
        Bench b(MakeConfig("RV7-G", 4096));
        b.Ask(kMode, 19);
        b.Ask(kId, 19);
        const int64_t before = b.link.NowMs();
        EXPECT_EQ(b.Ask(kUpdate, 19), "");
        EXPECT_EQ(b.link.NowMs() - before, 3000);
        EXPECT_EQ(b.controller.state(), State::kAwaitingPowerCycle);
        b.link.Replug();
        EXPECT_EQ(b.controller.state(), State::kAwaitingPowerCycle);
        b.link.PowerCycle();
        EXPECT_EQ(b.controller.state(), State::kBootloader);
        EXPECT_EQ(b.controller.violationCount(), 0u);
    }
}

ReplyFault Fault(Phase phase, FaultKind kind, uint8_t errorClass = 0, uint8_t state = 0) {
    ReplyFault f;
    f.phase = phase;
    f.kind = kind;
    f.errorClass = errorClass;
    f.errorState = state;
    return f;
}

TEST(SimApplication, InjectedFaultsShapeTheReplies) {
    const std::string mode = ":006401590500003D\r\n";
    Faults runMode;
    runMode.runMode = true;
    Faults otherId;
    otherId.appId = 0x000D;
    Faults variant;
    variant.d1386 = 0x4137;
    Faults oldLoader;
    oldLoader.version = BootloaderVersion{0, 9};
    Faults silent;
    silent.silent = true;
    auto with = [](ReplyFault f) {
        Faults out;
        out.replies.push_back(f);
        return out;
    };
    const struct {
        const char* name;
        Faults faults;
        const char* request;
        uint32_t length;
        std::string reply;
    } cases[] = {
        {"silence", with(Fault(Phase::kModeQuery, FaultKind::kSilence)), kMode, 19, ""},
        {"short", with(Fault(Phase::kModeQuery, FaultKind::kShort)), kMode, 19, mode.substr(0, 18)},
        {"bad LRC", with(Fault(Phase::kModeQuery, FaultKind::kBadLrc)), kMode, 19,
         Command(0x59, 5, 0, 0, {false, 1})},
        {"lower case", with(Fault(Phase::kIdQuery, FaultKind::kLowerCase)), kId, 19,
         Command(0x59, 6, 0, 0x0C, {true, 0})},
        {"garbage", with(Fault(Phase::kRegisterRead, FaultKind::kGarbage)), kD1386, 15,
         std::string(15, '~')},
        {"mode error 2/1", with(Fault(Phase::kModeQuery, FaultKind::kErrorReply, 2, 1)), kMode, 19,
         Command(0x59, 0x15, 2, 1)},
        {"ID error 2/3", with(Fault(Phase::kIdQuery, FaultKind::kErrorReply, 2, 3)), kId, 19,
         Command(0x59, 0x15, 2, 3)},
        {"update error 2/4", with(Fault(Phase::kUpdateRequest, FaultKind::kErrorReply, 2, 4)),
         kUpdate, 19, Command(0x59, 0x15, 2, 4)},
        {"update error 9/9", with(Fault(Phase::kUpdateRequest, FaultKind::kErrorReply, 9, 9)),
         kUpdate, 19, Command(0x59, 0x15, 9, 9)},
        {"run mode, mode", runMode, kMode, 19, Command(0x59, 0x15, 1, 1)},
        {"run mode, ID", runMode, kId, 19, Command(0x59, 0x15, 1, 2)},
        {"run mode, update", runMode, kUpdate, 19, Command(0x59, 0x15, 1, 3)},
        {"other model ID", otherId, kId, 19, Command(0x59, 6, 0, 0x0D)},
        {"variant register", variant, kD1386, 15, ":000302413783\r\n"},
        {"bootloader 0.9", oldLoader, kVersion, 19, Command(0x59, 0x09, 0, 0)},
        {"dead controller", silent, kWake, 11, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b(MakeConfig("RV7-KT5", 4096, c.faults));
        if (std::string(c.request) != kMode) {
            b.Ask(kMode, 19);
            b.Ask(kId, 19);
        }
        EXPECT_EQ(b.Ask(c.request, c.length), c.reply);
    }
}

TEST(SimApplication, FaultsCountRequestsAndOnlyDamagedRepliesLeaveTheRequestTaken) {
    ReplyFault f = Fault(Phase::kModeQuery, FaultKind::kSilence);
    f.skip = 1;
    f.times = 2;
    Bench b(MakeConfig("MN6", 4096, {{f}}));
    std::vector<size_t> lengths;
    for (int i = 0; i < 4; ++i) {
        lengths.push_back(b.Ask(kMode, 19).size());
    }
    EXPECT_EQ(lengths, (std::vector<size_t>{19, 0, 0, 19}));
    EXPECT_EQ(b.controller.requests(Phase::kModeQuery), 4u);

    for (FaultKind kind : {FaultKind::kShort, FaultKind::kBadLrc}) {
        Bench u(MakeConfig("MN6", 4096, {{Fault(Phase::kUpdateRequest, kind)}}));
        u.Ask(kMode, 19);
        u.Ask(kId, 19);
        u.Ask(kUpdate, 19);
        u.Send(kAck);
        // A cut reply means the request never got through; a bad LRC only hurt the reply.
        EXPECT_EQ(u.controller.state(),
                  kind == FaultKind::kShort ? State::kApplication : State::kRestarting);
    }

    ReplyFault late = Fault(Phase::kModeQuery, FaultKind::kLate);
    Bench l(MakeConfig("MN6", 4096, {{late}}));
    EXPECT_EQ(l.Ask(kMode, 19), "");
    EXPECT_EQ(l.Read(19), ":006401590500003D\r\n");
    EXPECT_EQ(l.link.NowMs(), 3505);

    EXPECT_THROW(Controller(MakeConfig("MN6", 1, {{Fault(Phase::kBlock, FaultKind::kBadLrc)}})),
                 std::invalid_argument);
    EXPECT_THROW(Controller(MakeConfig("MN7", 1)), std::invalid_argument);
}

TEST(SimApplication, RecordsWhatACorrectHostWouldNotSend) {
    const struct {
        const char* name;
        const char* model;
        std::vector<std::string> sends;
        const char* violation;
    } cases[] = {
        {"LRC", "MN6", {":006401590142\r\n"}, "wrong LRC"},
        {"case", "MN6", {":007f81\r\n"}, "lower-case hex"},
        {"CR", "MN6", {":006401590141\n"}, "not ended by CR LF"},
        {"unknown", "MN6", {":0064015999A9\r\n"}, "unknown request"},
        {"target", "MN6", {kAioMode}, "mode query with target byte 0x5B, expected 0x59"},
        {"version target", "ZL500-AIO", {":0064015B053B\r\n"}, "target byte 0x5B, expected 0x59"},
        {"analog target", "30KT5-AIO", {kMode}, "target byte 0x59, expected 0x5B"},
        {"ID first", "MN6", {kId}, "model-ID query before the mode query"},
        {"update early", "MN6", {kMode, kUpdate}, "update request before the model-ID query"},
        {"lone ack", "MN6", {kMode, kId, kAck}, "without an accepted update request"},
        {"stray", "MN6", {"ID"}, "2 unexpected byte(s) outside a frame: \"ID\""},
        {"restarting", "MN6", {kMode, kId, kUpdate, kAck, kWake}, "while the controller restarts"},
        {"unplugged", "HU", {kMode, kId, kUpdate, kAck, kMode}, "while the controller restarts"},
        {"boot ack", "MN6", {kMode, kId, kUpdate, kAck, "wait", kAck}, "sent to the bootloader"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b(MakeConfig(c.model, 4096));
        for (const std::string& s : c.sends) {
            s == "wait" ? b.link.AdvanceMs(1000) : void(b.Send(s));
        }
        ASSERT_EQ(b.controller.violationCount(), 1u);
        EXPECT_NE(b.controller.violations()[0].find(c.violation), std::string::npos)
            << b.controller.violations()[0];
    }
}

TEST(SimApplication, ChecksLineSettingsAndGapsOnSerialLinksOnly) {
    const struct {
        LineSettings line;
        const char* shown;
    } wrong[] = {
        {{19200, 7, kEvenParity, kOneStopBit, 0, 0}, "19200 7E1"},
        {{9600, 8, kEvenParity, kOneStopBit, 0, 0}, "9600 8E1"},
        {{9600, 7, kNoParity, kOneStopBit, 0, 0}, "9600 7N1"},
        {{9600, 7, kEvenParity, 2, 0, 0}, "9600 7E2"},
        {{9600, 7, kEvenParity, kOneStopBit, 1, 0}, "9600 7E1 DTR control 1"},
        {{9600, 7, kEvenParity, kOneStopBit, 0, 2}, "9600 7E1 RTS control 2"},
    };
    for (const auto& w : wrong) {
        Bench serial(MakeConfig("MN6", 4096));
        serial.link.SetLineSettings(w.line);
        EXPECT_EQ(serial.Ask(kMode, 19).size(), 19u);
        ASSERT_EQ(serial.controller.violationCount(), 1u);
        EXPECT_NE(serial.controller.violations()[0].find(std::string("mode query at ") + w.shown +
                                                         ", expected 9600 7E1"),
                  std::string::npos)
            << serial.controller.violations()[0];
    }

    Config baudOnly = MakeConfig("MN6", 4096);
    baudOnly.lineCheck = LineCheck::kBaudOnly;
    Bench pty(baudOnly);
    pty.link.SetLineSettings({9600, 8, kNoParity, kOneStopBit, 0, 0});
    pty.Ask(kMode, 19);
    EXPECT_EQ(pty.controller.violationCount(), 0u);

    Bench usb(MakeConfig("HU", 4096));
    EXPECT_EQ(usb.Ask(kMode, 19).size(), 19u);
    EXPECT_EQ(usb.controller.violationCount(), 0u);

    // Half a frame, then a pause: the rest is dropped and the next frame stands on its own.
    Bench gap(MakeConfig("MN6", 4096));
    gap.Send(":0064");
    gap.link.AdvanceMs(1500);
    EXPECT_EQ(gap.Ask(kMode, 19).size(), 19u);
    ASSERT_EQ(gap.controller.violationCount(), 1u);
    EXPECT_NE(gap.controller.violations()[0].find("incomplete frame \":0064\""), std::string::npos);
}

}  // namespace
}  // namespace fwburn::sim

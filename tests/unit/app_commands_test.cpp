// Application-mode commands against the scripted device, one table per command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/app_commands.hpp"
#include "protocol/app_exchange.hpp"
#include "protocol/result_codes.hpp"
#include "tests/support/command_case.hpp"
#include "tests/support/replies.hpp"

namespace fwburn {
namespace {

using test::Call;
using test::Err;
using test::Reaction;
using test::Reply;
using test::ReplyOptions;
using test::ShortWrite;
using test::Silence;
using test::Then;
using test::Times;

Reaction Id(uint16_t id, uint8_t status = 0x06, ReplyOptions o = {}) {
    return Reply(
        test::CommandReply(status, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), o));
}
Reaction Ack(ReplyOptions o = {}) {
    return Reply(test::CommandReply(0x06, 0, 0, o));
}
Reaction Register(uint16_t value, uint8_t function = 0x03, ReplyOptions o = {}) {
    return Reply(test::AsciiReply(
        {0x00, function, 0x02, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}, o));
}

// Checks that run for every command: time-outs first, no line settings, a discard before every
// write, and the expected request text every time.
void ExpectCommandShape(const test::FakeDevice& dev, const std::vector<std::string>& writes) {
    ASSERT_FALSE(dev.calls().empty());
    EXPECT_EQ(dev.calls()[0].kind, Call::kSetTimeouts);
    EXPECT_EQ(dev.calls()[0].timeouts, test::kCommandTimeouts);
    EXPECT_TRUE(dev.CallsOf(Call::kSetLine).empty());
    EXPECT_TRUE(dev.CallsOf(Call::kGetLine).empty());
    EXPECT_EQ(dev.Writes(), writes);
    const auto& calls = dev.calls();
    for (size_t i = 1; i < calls.size(); ++i) {
        if (calls[i].kind == Call::kWrite) {
            EXPECT_EQ(calls[i - 1].kind, Call::kDiscard) << "call " << i;
        }
    }
}

// Every run starts with retries already counted by earlier commands of the update.
constexpr int32_t kTotalBefore = 100;

// The two analog-module models send target byte 0x5B instead of 0x59.
bool IsAnalogModule(const std::string& model) {
    return model == "30KT5-AIO" || model == "ZL500-AIO";
}

class AppCommand : public ::testing::Test {};

// ---- CheckID_A ------------------------------------------------------------------------------

struct IdCase {
    const char* name;
    const char* model;
    std::vector<Reaction> script;
    uint8_t result;
    int errCounter;
    int totalRaised;
    int attempts;
    int64_t timeMs;
};

// clang-format off
const IdCase kIdCases[] = {
    {"matching ID", "ZL500", {Id(0x3010)}, 0, 0, 0, 1, 0},
    {"AIO shares the ID", "ZL500-AIO", {Id(0x3010)}, 0, 0, 0, 1, 0},
    {"ID 12 accepts 13", "RV7-KT5", {Id(13)}, 0, 0, 0, 1, 0},
    {"ID 12 accepts 12", "RV7-G", {Id(12)}, 0, 0, 0, 1, 0},
    {"ID 12 refuses 14", "RV7-KT5", Times(6, Id(14)), 24, 6, 6, 6, 0},
    {"ID 13 refuses 12: the widening is one way", "30KT5-AIO", Times(6, Id(12)), 24, 6, 6, 6, 0},
    {"another model six times", "ZL500", Times(6, Id(0x3000)), 24, 6, 6, 6, 0},
    {"top bit is not ignored in application mode", "RV7-F", Times(6, Id(0x2001)), 24, 6, 6, 6, 0},
    {"accepted on the third attempt keeps the retry number", "MN6", {Silence(), Id(1), Id(0x0E)}, 0, 2, 2, 3, 6100},
    {"status other than ACK", "MN6", Times(6, Id(0x0E, 0x07)), 24, 6, 6, 6, 0},
    {"flow error state 2", "MN6", Times(6, Err(2, 2)), 18, 6, 6, 6, 0},
    {"flow error state 3", "MN6", Times(6, Err(2, 3)), 19, 6, 6, 6, 0},
    {"flow error state 1 is another state", "MN6", Times(6, Err(2, 1)), 21, 6, 6, 6, 0},
    {"flow error state 4 is another state", "MN6", Times(6, Err(2, 4)), 21, 6, 6, 6, 0},
    {"class 1 is unknown here", "MN6", Times(6, Err(1, 2)), 23, 6, 6, 6, 0},
    {"class 3 is unknown", "MN6", Times(6, Err(3, 3)), 23, 6, 6, 6, 0},
    {"silent", "ZL500", {}, 24, 6, 6, 6, 18000},
    {"wrong LRC on the right ID", "ZL500", Then(Times(5, Id(0x3010, 6, {false, 1})), {Id(0x3010)}), 0, 5, 5, 6, 100},
    {"lower-case right ID", "ZL500", Times(6, Id(0x3010, 6, {true, 0})), 24, 6, 6, 6, 0},
    {"six short writes", "ZL500", Times(6, ShortWrite(16)), 24, 6, 6, 6, 18000},
};
// clang-format on

class CheckIdA : public AppCommand, public ::testing::WithParamInterface<IdCase> {};

TEST_P(CheckIdA, Table) {
    const IdCase& c = GetParam();
    test::ScriptedRun run(c.script, kTotalBefore);
    EXPECT_EQ(CheckID_A(run.channel, test::Row(c.model)), c.result);
    EXPECT_EQ(run.figures.errCounter, c.errCounter);
    EXPECT_EQ(run.figures.totalErrCounter, kTotalBefore + c.totalRaised);
    EXPECT_EQ(run.device.nowMs(), c.timeMs);
    const std::string request =
        IsAnalogModule(c.model) ? ":0064015B4944B3\r\n" : ":006401594944B5\r\n";
    ExpectCommandShape(run.device, std::vector<std::string>(c.attempts, request));
    for (uint32_t size : test::ReplyReadSizes(run.device)) {
        EXPECT_EQ(size, 19u);
    }
}

INSTANTIATE_TEST_SUITE_P(AppCommands, CheckIdA, ::testing::ValuesIn(kIdCases),
                         [](const auto& p) { return test::TestName(p.param.name); });

// The commands hand the rule a reply buffer they never cleared: when no attempt got as far as
// a read, nothing left in it (here a decoded run-mode error reply) may decide the result.
TEST_F(AppCommand, NoReadLeavesNoEarlierReplyToDecide) {
    test::ScriptedRun run(Times(6, ShortWrite(3)));
    uint8_t reply[kLongReplyLength] = {':', 0x00, 0x64, 0x01, 0x59, kAsciiNak, 1, 0};
    EXPECT_FALSE(RunTwoCounterRule(run.channel, kVersionRequest, reply, kLongReplyLength,
                                   [](const uint8_t*) { return true; }));
    EXPECT_TRUE(run.device.CallsOf(Call::kRead).empty());
    const ErrorReplyRow runMode[] = {{1, -1, kRunMode}};
    EXPECT_EQ(FinalResultDecision(reply, runMode), kNoAcceptableReply);
}

// ---- READ_D1386, READ_D1148 -----------------------------------------------------------------

struct RegisterCase {
    const char* name;
    std::vector<Reaction> script;
    uint16_t value;
    bool answered;  // an acceptable reply came
    int errCounter;
    int totalRaised;
    int attempts;
};

// clang-format off
const RegisterCase kRegisterCases[] = {
    {"RV7-G answer", {Register(0x4138)}, 16696, true, 0, 0, 1},
    {"zero", {Register(0)}, 0, true, 0, 0, 1},
    {"other function code still taken", {Register(0x1234, 0x04)}, 0x1234, true, 0, 0, 1},
    {"after two bad replies", {Register(1, 3, {false, 2}), Silence(), Register(0x4137)}, 0x4137, true, 2, 2, 3},
    {"zero on the last attempt", Then(Times(5, Silence()), {Register(0)}), 0, true, 5, 5, 6},
    {"silent gives 0", {}, 0, false, 6, 6, 6},
    {"wrong LRC every time", Times(6, Register(0x4138, 3, {false, 1})), 0, false, 6, 6, 6},
    {"lower-case refused", Times(6, Register(0xABCD, 3, {true, 0})), 0, false, 6, 6, 6},
    {"a long reply is cut and refused", Times(6, Id(0x4138)), 0, false, 6, 6, 6},
    {"write never goes out", Times(6, ShortWrite(3)), 0, false, 6, 6, 6},
};
// clang-format on

class ReadRegisters : public AppCommand, public ::testing::WithParamInterface<RegisterCase> {};

TEST_P(ReadRegisters, BothRegistersSameRule) {
    const RegisterCase& c = GetParam();
    struct Which {
        uint16_t (*read)(Channel&);
        uint16_t (*readTelling)(Channel&, bool&);
        const char* request;
    };
    for (const Which& w : {Which{READ_D1386, READ_D1386, ":0003156A00017D\r\n"},
                           Which{READ_D1148, READ_D1148, ":0003147C00016C\r\n"}}) {
        for (const char* model : {"RV7-G", "ZL500-AIO"}) {  // the same request for every model
            // Both forms run the same exchange; only the second tells silence from a 0.
            for (bool telling : {false, true}) {
                SCOPED_TRACE(model);
                test::ScriptedRun run(c.script, kTotalBefore);
                bool answered = !c.answered;
                EXPECT_EQ(telling ? w.readTelling(run.channel, answered) : w.read(run.channel),
                          c.value)
                    << w.request;
                if (telling) {
                    EXPECT_EQ(answered, c.answered) << w.request;
                }
                EXPECT_EQ(run.figures.errCounter, c.errCounter);
                EXPECT_EQ(run.figures.totalErrCounter, kTotalBefore + c.totalRaised);
                ExpectCommandShape(run.device, std::vector<std::string>(c.attempts, w.request));
                for (uint32_t size : test::ReplyReadSizes(run.device)) {
                    EXPECT_EQ(size, 15u);
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AppCommands, ReadRegisters, ::testing::ValuesIn(kRegisterCases),
                         [](const auto& p) { return test::TestName(p.param.name); });

// ---- read_fu_version_A ----------------------------------------------------------------------

TEST_F(AppCommand, VersionQueryReturnsByteFourWhateverItHolds) {
    struct Case {
        std::vector<Reaction> script;
        uint8_t version;
        int attempts;
    };
    const Case cases[] = {
        {{Reply(test::CommandReply(0x10))}, 0x10, 1},
        {{Reply(test::CommandReply(0x09))}, 0x09, 1},
        {{Err(2, 2)}, 0x15, 1},  // no status test: a NAK byte is a version too
        {{}, 0, 6},
        {{Silence(), Reply(test::CommandReply(0x10, 0, 0, {false, 1})),
          Reply(test::CommandReply(0x11))},
         0x11,
         3},
    };
    for (const char* model : {"ZL500", "ZL500-AIO"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(model);
            test::ScriptedRun run(c.script);
            bool answered = false;
            EXPECT_EQ(read_fu_version_A(run.channel, answered), c.version);
            EXPECT_EQ(answered, !c.script.empty());  // silence reads 0, and says so
            // Target byte 0x59 for every model, the analog module included.
            ExpectCommandShape(run.device,
                               std::vector<std::string>(c.attempts, ":00640159053D\r\n"));
        }
    }
}

// ---- SendErase_A ----------------------------------------------------------------------------

struct UpdateCase {
    const char* name;
    const char* model;
    std::vector<Reaction> script;
    uint8_t result;
    std::vector<char> writes;  // 'R' update request, 'A' acknowledgement
    int errCounter;
    int totalRaised;
    int64_t timeMs;
};

// clang-format off
const UpdateCase kUpdateCases[] = {
    {"accepted and acknowledged", "ZL500", {Ack()}, 0, {'R', 'A'}, 0, 0, 0},
    {"analog module variant", "ZL500-AIO", {Ack()}, 0, {'R', 'A'}, 0, 0, 0},
    {"power-cycle model: silence is acceptance", "RV7-G", {}, 0, {'R'}, 0, 0, 3000},
    {"power-cycle model: KT5-VUP too", "KT5-VUP", {}, 0, {'R'}, 0, 0, 3000},
    {"power-cycle model: part of a reply is acceptance", "RV7-G", {Reply(":00640159")}, 0, {'R'}, 0, 0, 3000},
    {"power-cycle model: an answer is acknowledged", "RV7-G", {Ack()}, 0, {'R', 'A'}, 0, 0, 0},
    {"power-cycle model: a wrong LRC is still a bad reply", "RV7-G", Times(6, Ack({false, 1})), 24, {'R', 'R', 'R', 'R', 'R', 'R'}, 6, 6, 0},
    {"power-cycle model: after bad replies silence counts at once", "RV7-G", {Err(2, 3), Silence()}, 0, {'R', 'R'}, 0, 1, 3000},
    {"silence elsewhere is no response", "ZL500", {}, 24, {'R', 'R', 'R', 'R', 'R', 'R'}, 6, 6, 18000},
    {"flow error state 3", "ZL500", Times(6, Err(2, 3)), 19, {'R', 'R', 'R', 'R', 'R', 'R'}, 6, 6, 0},
    {"flow error state 4", "ZL500", Times(6, Err(2, 4)), 20, {'R', 'R', 'R', 'R', 'R', 'R'}, 6, 6, 0},
    {"flow error state 2 is another state", "ZL500", Times(6, Err(2, 2)), 21, {'R', 'R', 'R', 'R', 'R', 'R'}, 6, 6, 0},
    {"run mode is unknown here", "ZL500", Times(6, Err(1, 0)), 23, {'R', 'R', 'R', 'R', 'R', 'R'}, 6, 6, 0},
    {"status other than ACK", "MN6", Times(6, Reply(test::CommandReply(0x05))), 24, {'R', 'R', 'R', 'R', 'R', 'R'}, 6, 6, 0},
    {"acknowledgement not written: ask again", "ZL500", {Ack(), ShortWrite(3), Ack()}, 0, {'R', 'A', 'R', 'A'}, 0, 1, 3000},
    // A write failure, not a bad reply: after five bad replies the request is asked once more.
    {"acknowledgement not written after five bad replies", "ZL500", Then(Times(5, Silence()), {Ack(), ShortWrite(3), Ack()}), 0, {'R', 'R', 'R', 'R', 'R', 'R', 'A', 'R', 'A'}, 0, 6, 18000},
    {"acknowledgement never written", "ZL500", {Ack(), ShortWrite(), Ack(), ShortWrite(), Ack(), ShortWrite(), Ack(), ShortWrite(), Ack(), ShortWrite(), Ack(), ShortWrite()}, 24, {'R', 'A', 'R', 'A', 'R', 'A', 'R', 'A', 'R', 'A', 'R', 'A'}, 6, 6, 18000},
    {"request not written", "ZL500", Times(6, ShortWrite(22)), 24, {'R', 'R', 'R', 'R', 'R', 'R'}, 6, 6, 18000},
};
// clang-format on

class SendEraseA : public AppCommand, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(SendEraseA, Table) {
    const UpdateCase& c = GetParam();
    const bool analog = IsAnalogModule(c.model);
    test::ScriptedRun run(c.script, kTotalBefore);
    EXPECT_EQ(SendErase_A(run.channel, test::Row(c.model)), c.result);
    EXPECT_EQ(run.figures.errCounter, c.errCounter);
    EXPECT_EQ(run.figures.totalErrCounter, kTotalBefore + c.totalRaised);
    EXPECT_EQ(run.device.nowMs(), c.timeMs);
    std::vector<std::string> writes;
    for (char w : c.writes) {
        if (w == 'R') {
            writes.push_back(analog ? ":0064015B4552415345D0\r\n" : ":006401594552415345D2\r\n");
        } else {
            writes.push_back(analog ? ":0064015B063A\r\n" : ":00640159063C\r\n");
        }
    }
    ExpectCommandShape(run.device, writes);
    // No reply is ever read to the acknowledgement.
    const auto& calls = run.device.calls();
    for (size_t i = 0; i + 1 < calls.size(); ++i) {
        if (calls[i].kind == Call::kWrite && calls[i].bytes.size() == 15) {
            EXPECT_NE(calls[i + 1].kind, Call::kRead);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AppCommands, SendEraseA, ::testing::ValuesIn(kUpdateCases),
                         [](const auto& p) { return test::TestName(p.param.name); });

}  // namespace
}  // namespace fwburn

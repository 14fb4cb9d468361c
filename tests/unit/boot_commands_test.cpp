// Bootloader commands against the scripted device. This file is built into one test binary per
// delivered profile, so the boot-mode ID rule is checked for both.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "catalogue/profile.hpp"
#include "protocol/boot_commands.hpp"
#include "protocol/transfer.hpp"
#include "tests/support/command_case.hpp"

namespace fwburn {
namespace {

using test::Bytes;
using test::Call;
using test::Reaction;
using test::ReplyBytes;
using test::ShortWrite;
using test::Silence;
using test::Then;
using test::Times;

Reaction Raw(std::initializer_list<uint8_t> bytes) {
    return ReplyBytes(Bytes(bytes));
}
Reaction IdReply(uint16_t id) {
    return Raw({0x06, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)});
}
const Reaction kAck = Raw({0x06});

bool CpuRule() {
    return std::strcmp(ThisBuildProfile().name, "cpu") == 0;
}

// Retries already counted by earlier commands of the update.
constexpr int32_t kBootTotalBefore = 50;

class BootCommand : public ::testing::Test {};

// ---- CheckID_B ------------------------------------------------------------------------------

struct BootIdCase {
    const char* name;
    const char* model;
    std::vector<Reaction> script;
    bool acceptedCpu;  // fwburn-cpu's rule
    bool acceptedAio;  // fwburn-aio's rule
    int totalRaisedWhenAccepted;
};

// clang-format off
const BootIdCase kBootIdCases[] = {
    {"ZL600 with an FYB-W bootloader ID", "ZL600", {IdReply(0xA00B)}, true, false, 0},
    {"FYB-W with a ZL600 bootloader ID", "FYB-W", {IdReply(0x3000)}, true, false, 0},
    {"ZL600 own ID", "ZL600", {IdReply(0x3000)}, true, true, 0},
    {"ZL500 own ID", "ZL500", {IdReply(0x3010)}, true, true, 0},
    {"ZL500 refuses ZL600", "ZL500", {IdReply(0x3000)}, false, false, 0},
    {"ZL500-AIO own ID", "ZL500-AIO", {IdReply(0x3010)}, true, true, 0},
    {"RV7-KT5 takes 13 after two bad replies", "RV7-KT5", {Silence(), Raw({0x15, 0, 12}), IdReply(0x000D)}, true, true, 2},
    {"RV7-G takes 12", "RV7-G", {IdReply(12)}, true, true, 0},
    {"RV7-F is reported without its top bit", "RV7-F", {IdReply(0x2001)}, true, true, 0},
    {"RV7-F refuses its application ID", "RV7-F", {IdReply(0xA001)}, false, false, 0},
    {"TQ3-N masked", "TQ3-N", {IdReply(0x2003)}, true, true, 0},
    {"KT5-VUP masked", "KT5-VUP", {IdReply(0x2006)}, true, true, 0},
    {"HU-N is USB: exact ID only", "HU-N", {IdReply(0xA002)}, true, true, 0},
    {"HU-N refuses the masked ID", "HU-N", {IdReply(0x2002)}, false, false, 0},
    {"HU26 exact", "HU26", {IdReply(0x0015)}, true, true, 0},
    {"first byte not ACK", "ZL500", {Raw({0x15, 0x30, 0x10})}, false, false, 0},
    {"two bytes only", "ZL500", {Raw({0x06, 0x30})}, false, false, 0},
};
// clang-format on

class CheckIdB : public BootCommand, public ::testing::WithParamInterface<BootIdCase> {};

TEST_P(CheckIdB, ByTheProfilesRule) {
    const BootIdCase& c = GetParam();
    const bool accepted = CpuRule() ? c.acceptedCpu : c.acceptedAio;
    // The scripted reply, repeated: a wrong model answers the same on every attempt.
    std::vector<Reaction> script = c.script;
    if (!accepted) {
        script = Times(6, c.script.back());
    }
    test::ScriptedRun run(script, kBootTotalBefore);
    EXPECT_EQ(CheckID_B(run.channel, ThisBuildProfile().bootIdRule, test::Row(c.model)),
              accepted ? 0 : 16);
    EXPECT_EQ(run.figures.errCounter, accepted ? 0 : 6);
    EXPECT_EQ(run.figures.totalErrCounter,
              kBootTotalBefore + (accepted ? c.totalRaisedWhenAccepted : 6));
    EXPECT_EQ(run.device.calls()[0].kind, Call::kSetTimeouts);
    EXPECT_EQ(run.device.calls()[0].timeouts, test::kCommandTimeouts);
    for (const std::string& w : run.device.Writes()) {
        EXPECT_EQ(w, "ID");
    }
    for (uint32_t size : test::ReplyReadSizes(run.device)) {
        EXPECT_EQ(size, 3u);
    }
}

INSTANTIATE_TEST_SUITE_P(BootCommands, CheckIdB, ::testing::ValuesIn(kBootIdCases),
                         [](const auto& p) { return test::TestName(p.param.name); });

TEST_F(BootCommand, EveryCommandGivesUpAfterSixSilencesOrSixShortWrites) {
    struct Command {
        const char* name;
        uint8_t (*run)(Channel&, int row);
    };
    const Command commands[] = {
        {"CheckID_B",
         [](Channel& ch, int row) { return CheckID_B(ch, ThisBuildProfile().bootIdRule, row); }},
        {"read_fu_version_B",
         [](Channel& ch, int) {
             uint8_t version = 0;
             return read_fu_version_B(ch, version);
         }},
        {"SendErase_B", [](Channel& ch, int row) { return SendErase_B(ch, row, 5000); }},
        {"SendUpdate", [](Channel& ch, int) { return SendUpdate(ch); }},
    };
    for (const Command& c : commands) {
        for (bool shortWrites : {false, true}) {
            test::ScriptedRun run(shortWrites ? Times(6, ShortWrite(1)) : std::vector<Reaction>{});
            EXPECT_EQ(c.run(run.channel, test::Row("ZL500-AIO")), 16) << c.name;
            EXPECT_EQ(run.figures.errCounter, 6) << c.name;
            EXPECT_EQ(run.figures.totalErrCounter, 6) << c.name;
            EXPECT_EQ(run.device.Writes().size(), 6u) << c.name;
            EXPECT_EQ(run.device.nowMs(), 18000) << c.name;
            EXPECT_EQ(run.device.CallsOf(Call::kRead).size(), shortWrites ? 0u : 6u) << c.name;
        }
    }
}

// ---- read_fu_version_B ----------------------------------------------------------------------

TEST_F(BootCommand, VersionBytesBecomeOneNibblePair) {
    struct Case {
        std::vector<uint8_t> reply;
        uint8_t result;
        uint8_t version;  // the version afterwards (0xEE: unchanged)
    };
    const Case cases[] = {
        {{0x06, 0x01, 0x00}, 0, 0x10},  {{0x06, 0x00, 0x90}, 0, 0x09},
        {{0x06, 0x12, 0x34}, 0, 0x23},  {{0x06, 0x01, 0x0F}, 0, 0x10},
        {{0x15, 0x01, 0x00}, 16, 0xEE}, {{0x06, 0x01}, 16, 0xEE},
    };
    for (const Case& c : cases) {
        uint8_t version = 0xEE;
        test::ScriptedRun run(Times(6, ReplyBytes(c.reply)));
        EXPECT_EQ(read_fu_version_B(run.channel, version), c.result);
        EXPECT_EQ(version, c.version);
        EXPECT_EQ(run.device.Writes()[0], "VERSION");
    }
}

TEST_F(BootCommand, LateIdReplyAfterItsResendIsNotReadAsTheVersion) {
    // The controller stalls past the ID read's time-out and answers both IDs, the second one
    // later than a quiet line would be waited for: it must not stand for the version (0x3010
    // would read as 0x01, an unknown one).
    test::ScriptedRun run({Reaction{-1, {{3100, {0x06, 0x30, 0x10}}}},
                           Reaction{-1, {{250, {0x06, 0x30, 0x10}}}},
                           Reaction{-1, {{100, {0x06, 0x01, 0x00}}}}});
    uint16_t id = 0;
    bool received = false;
    EXPECT_EQ(
        CheckID_B(run.channel, ThisBuildProfile().bootIdRule, test::Row("ZL500-AIO"), id, received),
        0);
    uint8_t version = 0;
    EXPECT_EQ(read_fu_version_B(run.channel, version), 0);
    EXPECT_EQ(version, 0x10);
}

// Only an exchange taken after failed attempts listens for late replies: one answered at once
// costs nothing more, one after a refusal a quiet wait (no reply is owed), one after a silence the
// owed reply's read time-out too.
TEST_F(BootCommand, LateRepliesAreAwaitedOnlyAfterFailedAttempts) {
    struct Case {
        const char* name;
        std::vector<Reaction> script;
        int64_t timeMs;
        size_t reads;
    };
    const Case cases[] = {
        {"answered at once", {kAck}, 0, 1},
        {"after a NAK", {Raw({0x15}), kAck}, 100, 3},
        {"after a silence", {Silence(), kAck}, 3000 + 3000 + 100, 4},
    };
    for (const Case& c : cases) {
        test::ScriptedRun run(c.script);
        EXPECT_EQ(SendUpdate(run.channel), 0) << c.name;
        EXPECT_EQ(run.device.nowMs(), c.timeMs) << c.name;
        EXPECT_EQ(run.device.CallsOf(Call::kRead).size(), c.reads) << c.name;
    }
}

// ---- SendErase_B ----------------------------------------------------------------------------

struct EraseCase {
    const char* name;
    const char* model;
    uint32_t length;
    std::vector<Reaction> script;  // empty: every step acknowledged
    uint8_t result;
    int steps;  // ERASE words written
    bool eotSent;
    std::vector<int> progressAtWrites;  // progress as each word went out
    int progressAfter;
};

std::vector<Reaction> Acks(int n) {
    return Times(n, kAck);
}

// clang-format off
const EraseCase kEraseCases[] = {
    {"HU, exact multiple still adds one", "HU", 16384, Acks(3), 0, 2, true, {0, 0, 50}, 100},
    {"30KT5-AIO always four", "30KT5-AIO", 100, Acks(5), 0, 4, true, {0, 0, 25, 50, 75}, 100},
    {"ZL500-AIO rounds up", "ZL500-AIO", 11056, Acks(7), 0, 6, true, {0, 0, 16, 33, 50, 66, 83}, 100},
    {"nothing to erase: EOT at once", "ZL500", 4096, Acks(1), 0, 0, true, {0}, 100},
    {"step 0 fails", "30KT5-AIO", 100, {}, 16, 6, false, {}, 0},
    {"step 2 fails after two steps", "30KT5-AIO", 100, Then(Acks(2), Times(6, test::Silence())), 16, 8, false, {}, 25},
    {"EOT not acknowledged", "30KT5-AIO", 100, Then(Acks(4), Times(6, Raw({0x15}))), 16, 4, true, {}, 75},
    {"NAK then ACK is one retry", "30KT5-AIO", 100, Then({Raw({0x15})}, Acks(5)), 0, 5, true, {0, 0, 0, 25, 50, 75}, 100},
    {"five short writes and five NAKs, then ACK", "30KT5-AIO", 100, Then(Then(Times(5, ShortWrite(1)), Times(5, Raw({0x15}))), Acks(5)), 0, 14, true, {}, 100},
};
// clang-format on

class SendEraseB : public BootCommand, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(SendEraseB, Table) {
    const EraseCase& c = GetParam();
    test::ScriptedRun run(c.script);
    EXPECT_EQ(SendErase_B(run.channel, test::Row(c.model), c.length), c.result);
    EXPECT_EQ(run.figures.flashStatus, 1);
    EXPECT_EQ(run.figures.progress, c.progressAfter);
    const auto writes = run.device.Writes();
    int erase = 0;
    bool eot = false;
    for (const std::string& w : writes) {
        erase += w == "ERASE";
        eot = eot || w == std::string(1, '\x04');
    }
    EXPECT_EQ(erase, c.steps);
    EXPECT_EQ(eot, c.eotSent);
    if (!c.progressAtWrites.empty()) {
        EXPECT_EQ(run.progressAtWrites, c.progressAtWrites);
    }
    if (c.result == 0) {
        EXPECT_EQ(writes.back(), std::string(1, '\x04'));
        EXPECT_EQ(run.figures.errCounter, 0);
    }
    // Time-outs are set before the first step, and left so after listening for late replies.
    const auto set = run.device.CallsOf(Call::kSetTimeouts);
    EXPECT_EQ(set.front().timeouts, test::kCommandTimeouts);
    EXPECT_EQ(set.back().timeouts, test::kCommandTimeouts);
}

INSTANTIATE_TEST_SUITE_P(BootCommands, SendEraseB, ::testing::ValuesIn(kEraseCases),
                         [](const auto& p) { return test::TestName(p.param.name); });

// ---- SendUpdate -----------------------------------------------------------------------------

TEST_F(BootCommand, UpdateSwitchesTheLineOnlyWhenAcknowledged) {
    const LineSettings before{9600, 7, 2, 0, 0, 0};
    const LineSettings transfer{115200, 8, 0, 0, 0, 0};
    enum Handle { kSerial, kSerialUnreadable, kUsb };
    for (bool acknowledged : {true, false}) {
        for (Handle handle : {kSerial, kSerialUnreadable, kUsb}) {
            const bool serial = handle != kUsb;
            test::ScriptedRun run(acknowledged ? std::vector<Reaction>{Raw({0x15}), kAck}
                                               : Times(6, Raw({0x15})));
            run.device.serialPort = serial;
            // Settings that cannot be read are written all the same.
            run.device.lineReadFails = handle == kSerialUnreadable;
            run.device.line = before;
            EXPECT_EQ(SendUpdate(run.channel), acknowledged ? 0 : 16);
            EXPECT_EQ(run.device.Writes()[0], "UPDATE");
            EXPECT_EQ(run.figures.errCounter, acknowledged ? 0 : 6);
            EXPECT_EQ(run.figures.totalErrCounter, acknowledged ? 1 : 6);
            const auto sets = run.device.CallsOf(Call::kSetLine);
            if (acknowledged) {
                // Asked of every handle, USB included; only a serial port takes it.
                ASSERT_EQ(sets.size(), 1u);
                EXPECT_EQ(sets[0].line, transfer);
                EXPECT_EQ(run.device.CallsOf(Call::kGetLine).size(), 1u);
                EXPECT_EQ(run.device.line, serial ? transfer : before);
            } else {
                EXPECT_TRUE(sets.empty());
                EXPECT_EQ(run.device.line, before);
            }
        }
    }
}

}  // namespace
}  // namespace fwburn

// The bootloader's commands and erase, driven by raw bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/sim/sim_test_support.hpp"
#include "tests/support/replies.hpp"

namespace fwburn::sim {
namespace {

using test::Bench;
using test::MakeConfig;

Config InBoot(const char* model, uint32_t length, Faults faults = {}) {
    faults.bootAtPowerOn = true;
    return MakeConfig(model, length, std::move(faults));
}

std::string Raw(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) {
        s += static_cast<char>(b);
    }
    return s;
}

TEST(SimBootloader, AnswersModeIdAndVersion) {
    const struct {
        const char* model;
        const char* modeQuery;
        uint8_t target;
        std::string id;
    } cases[] = {
        {"MN6", ":006401590141\r\n", 0x59, Raw({6, 0x00, 0x0E})},
        {"RV7-F", ":006401590141\r\n", 0x59, Raw({6, 0x20, 0x01})},
        {"KT5-VUP", ":006401590141\r\n", 0x59, Raw({6, 0x20, 0x06})},
        {"FYB-W", ":006401590141\r\n", 0x59, Raw({6, 0xA0, 0x0B})},
        {"ZL500-AIO", ":0064015B013F\r\n", 0x5B, Raw({6, 0x30, 0x10})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        Bench b(InBoot(c.model, 8192));
        EXPECT_EQ(b.Ask(c.modeQuery, 19),
                  fwburn::test::AsciiReply({0x00, 0x64, 0x01, c.target, 6, 0, 0}));
        EXPECT_EQ(b.Ask(":007F81\r\n", 11), ":007F0081\r\n");
        EXPECT_EQ(b.Ask("ID", 3), c.id);
        EXPECT_EQ(b.Ask("VERSION", 3), Raw({6, 1, 0x00}));
        EXPECT_EQ(b.controller.violationCount(), 0u);
    }
}

TEST(SimBootloader, EraseCountsItsStepsAgainstTheImageLength) {
    for (uint32_t steps : {3u, 2u, 4u}) {
        SCOPED_TRACE(steps);
        Bench b(InBoot("MN6", 4096));  // 4096 / 2048 + 1 = 3 steps
        b.Ask("ID", 3);
        for (uint32_t i = 0; i < steps; ++i) {
            const int64_t t = b.link.NowMs();
            EXPECT_EQ(b.Ask("ERASE", 1), "\x06");
            EXPECT_EQ(b.link.NowMs() - t, 25);  // turn-around plus the step's erase time
        }
        EXPECT_EQ(b.Ask("\x04", 1), "\x06");
        EXPECT_EQ(b.Ask("\x04", 1), "\x06");  // a repeat is acknowledged again
        EXPECT_EQ(b.controller.eraseSteps(), steps);
        if (steps == 3) {
            EXPECT_EQ(b.controller.violationCount(), 0u);
        } else {
            ASSERT_EQ(b.controller.violationCount(), 1u);
            EXPECT_NE(b.controller.violations()[0].find(
                          "erase ended after " + std::to_string(steps) + " steps, expected 3"),
                      std::string::npos);
        }
    }
}

TEST(SimBootloader, LinkLostDuringTheEraseTakesTheStepAndAnswersNothingUntilAReplug) {
    Faults f;
    f.linkLossAfterEraseStep = 2;
    Bench b(InBoot("ZL500-AIO", 11056, f));
    b.Ask("ID", 3);
    EXPECT_EQ(b.Ask("ERASE", 1), "\x06");
    EXPECT_EQ(b.Ask("ERASE", 1), "");  // taken, its ACK lost with the link
    EXPECT_TRUE(b.controller.LinkLost());
    EXPECT_EQ(b.controller.eraseSteps(), 2u);
    b.link.Close();
    b.link.Replug();
    ASSERT_TRUE(b.link.Open());
    b.link.SetTimeouts(test::kCommandTimeouts);
    // The erase was cut short: what comes back is the bootloader, taking commands again.
    EXPECT_FALSE(b.controller.LinkLost());
    EXPECT_EQ(b.controller.state(), State::kBootloader);
    EXPECT_EQ(b.Ask("ID", 3).size(), 3u);
}

TEST(SimBootloader, ALinkLossLimitedInTimesLetsTheNextEraseThrough) {
    Faults f;
    f.linkLossAfterEraseStep = 1;
    f.linkLossTimes = 1;
    Bench b(InBoot("ZL500-AIO", 11056, f));
    b.Ask("ID", 3);
    EXPECT_EQ(b.Ask("ERASE", 1), "");
    b.link.Close();
    b.link.Replug();
    ASSERT_TRUE(b.link.Open());
    b.link.SetTimeouts(test::kCommandTimeouts);
    b.Ask("ID", 3);
    EXPECT_EQ(b.Ask("ERASE", 1), "\x06");
    EXPECT_FALSE(b.controller.LinkLost());
}

TEST(SimBootloader, RefusesOrFlagsCommandsOutOfPlace) {
    const struct {
        const char* name;
        std::vector<std::string> sends;
        std::string lastReply;
        size_t violations;
        const char* violation;
    } cases[] = {
        {"erase first", {"ERASE"}, "\x15", 1, "\"ERASE\" before the model ID"},
        {"EOT first", {"\x04"}, "\x15", 1, "EOT before the model ID"},
        {"update early", {"ID", "UPDATE"}, "\x15", 1, "\"UPDATE\" before the erase was ended"},
        {"ID in erase", {"ID", "ERASE", "ID"}, Raw({6, 0, 0x0E}), 1, "in the middle of the erase"},
        {"erase again",
         {"ID", "ERASE", "ERASE", "ERASE", "\x04", "ERASE"},
         "\x06",
         1,
         "\"ERASE\" after the erase was ended"},
        {"typo", {"VERSIOM"}, "", 2, "unknown command \"VERSIO\""},
        {"app request",
         {":00640159063C\r\n"},
         "",
         1,
         "update acknowledgement sent to the bootloader"},
        {"junk", {"?"}, "", 1, "1 unexpected byte(s) in the bootloader"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b(InBoot("MN6", 4096));
        std::string reply;
        for (const std::string& s : c.sends) {
            reply = b.Ask(s, static_cast<uint32_t>(s.size() == 2 ? 3 : 1));
        }
        EXPECT_EQ(reply, c.lastReply);
        ASSERT_EQ(b.controller.violationCount(), c.violations);
        EXPECT_NE(b.controller.violations()[0].find(c.violation), std::string::npos)
            << b.controller.violations()[0];
    }

    Bench gap(InBoot("MN6", 4096));
    gap.Send("ERA");
    gap.link.AdvanceMs(1001);
    EXPECT_EQ(gap.Ask("ID", 3), Raw({6, 0, 0x0E}));
    ASSERT_EQ(gap.controller.violationCount(), 1u);
    EXPECT_NE(gap.controller.violations()[0].find("incomplete command \"ERA\""), std::string::npos);
}

TEST(SimBootloader, InjectedFaultsShapeTheReplies) {
    auto with = [](Phase phase, FaultKind kind) {
        Faults f;
        f.replies.push_back({phase, kind});
        return f;
    };
    Faults ids;
    ids.bootId = 0x000D;
    ids.version = BootloaderVersion{0, 9};
    const struct {
        const char* name;
        Faults faults;
        std::vector<std::string> prelude;
        std::string request;
        std::string reply;
    } cases[] = {
        {"silent ID", with(Phase::kBootId, FaultKind::kSilence), {}, "ID", ""},
        {"NAK ID", with(Phase::kBootId, FaultKind::kNak), {}, "ID", Raw({0x15, 0, 0x0E})},
        {"short ID", with(Phase::kBootId, FaultKind::kShort), {}, "ID", Raw({6, 0})},
        {"garbage ID", with(Phase::kBootId, FaultKind::kGarbage), {}, "ID", "~~~"},
        {"NAK VERSION",
         with(Phase::kBootVersion, FaultKind::kNak),
         {},
         "VERSION",
         Raw({0x15, 1, 0})},
        {"silent erase", with(Phase::kEraseStep, FaultKind::kSilence), {"ID"}, "ERASE", ""},
        {"NAK erase end", with(Phase::kEraseEnd, FaultKind::kNak), {"ID", "ERASE"}, "\x04", "\x15"},
        {"silent UPDATE",
         with(Phase::kUpdate, FaultKind::kSilence),
         {"ID", "ERASE", "ERASE", "ERASE", "\x04"},
         "UPDATE",
         ""},
        {"boot mode error",
         with(Phase::kBootModeQuery, FaultKind::kErrorReply),
         {},
         ":006401590141\r\n",
         fwburn::test::AsciiReply({0, 0x64, 1, 0x59, 0x15, 0, 0})},
        {"other IDs", ids, {}, "ID", Raw({6, 0, 0x0D})},
        {"version 0.9", ids, {}, "VERSION", Raw({6, 0, 0x90})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b(InBoot("MN6", 4096, c.faults));
        for (const std::string& s : c.prelude) {
            b.Ask(s, s == "ID" ? 3 : 1);
        }
        EXPECT_EQ(b.Ask(c.request, static_cast<uint32_t>(c.request.size() > 7 ? 19 : 3)), c.reply);
    }

    // A refused step is not counted: the host's repeat makes up for it.
    ReplyFault once{Phase::kEraseStep, FaultKind::kNak};
    once.times = 1;
    Bench b(InBoot("MN6", 4096, {{once}}));
    b.Ask("ID", 3);
    std::string replies;
    for (int i = 0; i < 4; ++i) {
        replies += b.Ask("ERASE", 1);
    }
    EXPECT_EQ(replies, "\x15\x06\x06\x06");
    EXPECT_EQ(b.Ask("\x04", 1), "\x06");
    EXPECT_EQ(b.controller.eraseSteps(), 3u);
    EXPECT_EQ(b.controller.violationCount(), 0u);
}

}  // namespace
}  // namespace fwburn::sim

// The --fault grammar, parsed directly.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "sim/controller.hpp"
#include "sim/plcsim/fault_grammar.hpp"

namespace fwburn::sim::plcsim {
namespace {

TEST(FaultGrammar, ReplyFaultsTakeKindValuePhaseSkipAndTimes) {
    struct Case {
        const char* text;
        Phase phase;
        FaultKind kind;
        int skip;
        int times;
        uint8_t errorClass;
        uint8_t errorState;
        int64_t delayMs;
    };
    const Case cases[] = {
        {"silence@mode-query", Phase::kModeQuery, FaultKind::kSilence, 0, kForever, 0, 0, 3500},
        {"nak@block:9x2", Phase::kBlock, FaultKind::kNak, 9, 2, 0, 0, 3500},
        {"error=2/3@id-query", Phase::kIdQuery, FaultKind::kErrorReply, 0, kForever, 2, 3, 3500},
        {"error=0x02/0x15@update-request:1", Phase::kUpdateRequest, FaultKind::kErrorReply, 1,
         kForever, 2, 0x15, 3500},
        {"late=4000@mode-query:1x1", Phase::kModeQuery, FaultKind::kLate, 1, 1, 0, 0, 4000},
        {"late@boot-mode-query", Phase::kBootModeQuery, FaultKind::kLate, 0, kForever, 0, 0, 3500},
        // The longer phase name wins over its prefix "update".
        {"bad-lrc@update-request", Phase::kUpdateRequest, FaultKind::kBadLrc, 0, kForever, 0, 0,
         3500},
        {"garbage@update", Phase::kUpdate, FaultKind::kGarbage, 0, kForever, 0, 0, 3500},
        {"short@transfer-end:0x3", Phase::kTransferEnd, FaultKind::kShort, 0, 3, 0, 0, 3500},
        {"lower-case@wake", Phase::kWake, FaultKind::kLowerCase, 0, kForever, 0, 0, 3500},
        {"nak@erase-step:505", Phase::kEraseStep, FaultKind::kNak, 505, kForever, 0, 0, 3500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Faults faults;
        ASSERT_EQ(ParseFault(c.text, faults), "");
        ASSERT_EQ(faults.replies.size(), 1u);
        const ReplyFault& f = faults.replies[0];
        EXPECT_EQ(f.phase, c.phase);
        EXPECT_EQ(f.kind, c.kind);
        EXPECT_EQ(f.skip, c.skip);
        EXPECT_EQ(f.times, c.times);
        EXPECT_EQ(f.errorClass, c.errorClass);
        EXPECT_EQ(f.errorState, c.errorState);
        EXPECT_EQ(f.delayMs, c.delayMs);
    }
}

TEST(FaultGrammar, WholeControllerFaults) {
    struct Case {
        const char* text;
        std::function<bool(const Faults&)> holds;
    };
    const Case cases[] = {
        {"silent", [](const Faults& f) { return f.silent; }},
        {"run-mode", [](const Faults& f) { return f.runMode; }},
        {"stay-in-application", [](const Faults& f) { return f.stayInApplication; }},
        {"boot-at-power-on", [](const Faults& f) { return f.bootAtPowerOn; }},
        {"app-id=0x3010", [](const Faults& f) { return f.appId == 0x3010; }},
        {"boot-id=8193", [](const Faults& f) { return f.bootId == 0x2001; }},
        {"d1386=0x4138", [](const Faults& f) { return f.d1386 == 0x4138; }},
        {"d1148=28", [](const Faults& f) { return f.d1148 == 28; }},
        {"version=0.9",
         [](const Faults& f) {
             return f.version && f.version->major == 0 && f.version->minor == 9;
         }},
        // ":SKIP" counts the blocks that go through: the link dies as the next one arrives.
        {"link-loss@block:99", [](const Faults& f) { return f.linkLossAfterBlock == 100; }},
        {"link-loss@block", [](const Faults& f) { return f.linkLossAfterBlock == 1; }},
        {"link-loss@erase-step:9",
         [](const Faults& f) {
             return f.linkLossAfterEraseStep == 10 && f.linkLossAfterBlock == 0 &&
                    f.linkLossTimes == kForever;
         }},
        {"link-loss@block:19x1",
         [](const Faults& f) { return f.linkLossAfterBlock == 20 && f.linkLossTimes == 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Faults faults;
        ASSERT_EQ(ParseFault(c.text, faults), "");
        EXPECT_TRUE(c.holds(faults));
        EXPECT_TRUE(faults.replies.empty());
    }
}

TEST(FaultGrammar, FaultsAccumulate) {
    Faults faults;
    ASSERT_EQ(ParseFault("nak@block:3x1", faults), "");
    ASSERT_EQ(ParseFault("silence@mode-query:1", faults), "");
    ASSERT_EQ(ParseFault("app-id=12", faults), "");
    ASSERT_EQ(faults.replies.size(), 2u);
    EXPECT_EQ(faults.replies[0].phase, Phase::kBlock);
    EXPECT_EQ(faults.replies[1].phase, Phase::kModeQuery);
    EXPECT_EQ(faults.appId, 12);
}

TEST(FaultGrammar, ErrorsNameTheProblemAndChangeNothing) {
    struct Case {
        const char* text;
        const char* says;
    };
    const Case cases[] = {
        {"", "unknown fault"},
        {"boom@mode-query", "unknown fault \"boom\""},
        {"silence", "silence@PHASE"},
        {"silence@nowhere", "unknown phase \"nowhere\""},
        {"nak@mode-query", "nak fits only"},
        {"bad-lrc@block", "fits only the phases answered with ASCII"},
        {"error=2/3@erase-step", "fits only the phases answered with ASCII"},
        {"error@id-query", "CLASS/STATE"},
        {"error=2@id-query", "CLASS/STATE"},
        {"error=2/300@id-query", "CLASS/STATE"},
        {"late=soon@mode-query", "late takes a delay"},
        {"silence=3@wake", "takes no value"},
        {"nak@block:", "SKIP"},
        {"nak@block:-1", "SKIP"},
        {"nak@block:x2", "SKIP"},
        {"nak@block:3x0", "TIMES"},
        {"nak@block:3x", "TIMES"},
        {"nak@blockade", "unexpected \"ade\""},
        {"silent@wake", "takes no @PHASE"},
        {"silent=1", "takes no value"},
        {"app-id", "0 to 65535"},
        {"app-id=0x10000", "0 to 65535"},
        {"d1148=twelve", "0 to 65535"},
        {"version=1", "MAJOR.MINOR"},
        {"version=1.16", "MAJOR.MINOR"},
        {"version=256.0", "MAJOR.MINOR"},
        {"link-loss", "link-loss takes only"},
        {"link-loss@update", "link-loss takes only"},
        {"link-loss=3@block", "link-loss takes only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Faults faults;
        faults.d1148 = 7;
        const std::string error = ParseFault(c.text, faults);
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_TRUE(faults.replies.empty());
        EXPECT_EQ(faults.d1148, 7);
        EXPECT_FALSE(faults.version || faults.appId || faults.silent);
        EXPECT_EQ(faults.linkLossAfterBlock, 0u);
    }
}

// Every kind and phase of the simulator can be written, and the grammar refuses exactly the
// pairs that the controller itself would refuse.
TEST(FaultGrammar, EveryKindAndPhaseAsTheControllerSeesThem) {
    const FaultKind kinds[] = {FaultKind::kSilence,   FaultKind::kShort,      FaultKind::kBadLrc,
                               FaultKind::kLowerCase, FaultKind::kErrorReply, FaultKind::kNak,
                               FaultKind::kGarbage,   FaultKind::kLate};
    for (const FaultKind kind : kinds) {
        for (int p = 0; p < static_cast<int>(Phase::kCount); ++p) {
            const auto phase = static_cast<Phase>(p);
            const std::string text = std::string(KindToken(kind)) +
                                     (kind == FaultKind::kErrorReply ? "=2/1" : "") + "@" +
                                     PhaseToken(phase);
            SCOPED_TRACE(text);
            Faults faults;
            const bool parsed = ParseFault(text, faults).empty();
            bool accepted = true;
            ReplyFault direct;
            direct.phase = phase;
            direct.kind = kind;
            try {
                Config config{"ZL500", 8192, {}, {}, LineCheck::kOff};
                config.faults.replies.push_back(direct);
                Controller controller(config);
            } catch (const std::invalid_argument&) {
                accepted = false;
            }
            EXPECT_EQ(parsed, accepted);
            if (parsed) {
                ASSERT_EQ(faults.replies.size(), 1u);
                EXPECT_EQ(faults.replies[0].phase, phase);
                EXPECT_EQ(faults.replies[0].kind, kind);
            }
        }
    }
}

TEST(FaultGrammar, HelpNamesEveryPhaseAndKind) {
    const std::string help = FaultGrammarHelp();
    for (int p = 0; p < static_cast<int>(Phase::kCount); ++p) {
        EXPECT_NE(help.find(PhaseToken(static_cast<Phase>(p))), std::string::npos) << p;
    }
    for (const char* word :
         {"silence", "short", "garbage", "late", "bad-lrc", "lower-case", "error=C/S", "nak",
          "silent", "run-mode", "app-id", "boot-id", "d1386", "d1148",
          "version=", "link-loss@block", "stay-in-application", "boot-at-power-on"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
}

}  // namespace
}  // namespace fwburn::sim::plcsim

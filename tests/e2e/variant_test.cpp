// The variant check of the three model pairs that share an ID, when the variant register read gets
// no acceptable reply. Silence reads as 0: the models that 0 would confirm (RV7-KT5, TQ3, HU) must
// not take it as a confirmation, the others keep their mismatch message. Either way the update
// ends before the update request, with nothing erased.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/bench.hpp"

namespace fwburn::test {
namespace {

const char kReadFailed[] = "PLC DOES NOT respond to the variant read";

struct VariantCase {
    const char* selected;
    const char* connected;
    const char* unanswered;  // the one message when no read gets an acceptable reply
    const char* answered;    // the message once the sixth read is answered; nullptr: success
};

// clang-format off
const VariantCase kVariants[] = {
    // 0 stands for these: a silent register must not confirm them.
    {"RV7-KT5", "RV7-KT5", kReadFailed, nullptr},
    {"RV7-KT5", "RV7-G", kReadFailed, "Check PLC, RV7-KT5 is different than RV7-G"},
    {"TQ3", "TQ3", kReadFailed, nullptr},
    {"TQ3", "TQ38", kReadFailed, "Check PLC, 12TQ3 is different than 28TQ3"},
    {"HU", "HU", kReadFailed, nullptr},
    {"HU", "HU26", kReadFailed, "Check PLC, 12HU is different than 26HU"},
    // Silence already ends these with the mismatch message, as before.
    {"RV7-G", "RV7-G", "Check PLC, RV7-KT5 is different than RV7-G", nullptr},
    {"RV7-G", "RV7-KT5", "Check PLC, RV7-KT5 is different than RV7-G", "Check PLC, RV7-KT5 is different than RV7-G"},
    {"TQ38", "TQ38", "Check PLC, 28TQ3 is different than 12TQ3", nullptr},
    {"TQ38", "TQ3", "Check PLC, 28TQ3 is different than 12TQ3", "Check PLC, 28TQ3 is different than 12TQ3"},
    {"HU26", "HU26", "Check PLC, 26HU is different than 12HU", nullptr},
    {"HU26", "HU", "Check PLC, 26HU is different than 12HU", "Check PLC, 26HU is different than 12HU"},
};
// clang-format on

void PrintTo(const VariantCase& c, std::ostream* os) {
    *os << c.selected << " selected, " << c.connected << " connected";
}

struct Damage {
    const char* name;
    FaultKind kind;
};

// Ways a register reply fails to be acceptable. (Lower-case hex is left to the unit tests: the
// RV7 pair's replies hold no hex letter to lower.)
const Damage kDamages[] = {
    {"silence", FaultKind::kSilence},        {"short reply", FaultKind::kShort},
    {"wrong LRC", FaultKind::kBadLrc},       {"garbage", FaultKind::kGarbage},
    {"error reply", FaultKind::kErrorReply},
};

BenchOptions Options(const VariantCase& c, FaultKind kind, int times) {
    sim::ReplyFault f = Fault(Phase::kRegisterRead, kind, times);
    f.errorClass = 2;  // what an error reply says, where `kind` is one
    f.errorState = 2;
    return test::Options(c.selected, 9000, {f}, c.connected);
}

class VariantRead : public ::testing::TestWithParam<VariantCase> {};

TEST_P(VariantRead, NoAcceptableReplyEndsBeforeTheUpdateRequest) {
    const VariantCase& c = GetParam();
    for (const Damage& d : kDamages) {
        SCOPED_TRACE(d.name);
        Bench bench(Options(c, d.kind, sim::kForever));
        bench.update.figures.elapsedTime = 7;
        bench.Start();

        ASSERT_EQ(bench.finalMessages.size(), 1u);
        const OperatorEvent m = bench.Final();
        EXPECT_EQ(m.caption, "ERROR");
        EXPECT_EQ(m.text, c.unanswered);
        EXPECT_EQ(m.icon, MessageIcon::Error);
        EXPECT_EQ(m.elapsedTime, 7);
        EXPECT_EQ(m.totalErrCounter, 6);  // the six register reads, nothing else failed

        // Asked six times, then nothing more: no update request, no erase, no prompt.
        EXPECT_EQ(bench.controller.requests(Phase::kRegisterRead), 6u);
        EXPECT_EQ(bench.controller.requests(Phase::kUpdateRequest), 0u);
        EXPECT_EQ(bench.controller.eraseSteps(), 0u);
        EXPECT_EQ(bench.controller.state(), sim::State::kApplication);
        EXPECT_EQ(bench.reconnects, 0);
        EXPECT_EQ(bench.controller.violationCount(), 0u) << bench.Violations();

        // Open, timer stop, the message, then the button and the port.
        const std::string open = IsUsbLinked(FindModelRow(c.selected)) ? "U" : "S";
        EXPECT_EQ(bench.op.Sequence(), "D" + open + "TMEC");
        bench.ExpectEndedClean();
        // Silence confirms nothing: a failed exchange, not a refusal (unless the 0 it gives
        // already names the other variant, as before), and nothing erased.
        EXPECT_EQ(bench.outcome.kind, c.unanswered == kReadFailed ? OutcomeKind::CommunicationFailed
                                                                  : OutcomeKind::ControllerRefused);
        EXPECT_FALSE(bench.outcome.erased);
    }
}

// Five bad replies are retries, not the end: the sixth read decides by the value it carries.
TEST_P(VariantRead, TheSixthReadStillDecides) {
    const VariantCase& c = GetParam();
    for (const Damage& d : kDamages) {
        SCOPED_TRACE(d.name);
        Bench bench(Options(c, d.kind, 5));
        bench.Start();
        ASSERT_EQ(bench.finalMessages.size(), 1u);
        EXPECT_EQ(bench.controller.requests(Phase::kRegisterRead), 6u);
        if (c.answered == nullptr) {
            EXPECT_TRUE(IsSuccessText(bench.Final().text)) << bench.Final().text;
            EXPECT_TRUE(bench.FlashMatchesImage());
        } else {
            EXPECT_EQ(bench.Final().text, c.answered);
            EXPECT_EQ(bench.controller.requests(Phase::kUpdateRequest), 0u);
            EXPECT_EQ(bench.controller.eraseSteps(), 0u);
        }
        EXPECT_EQ(bench.controller.violationCount(), 0u) << bench.Violations();
    }
}

INSTANTIATE_TEST_SUITE_P(E2e, VariantRead, ::testing::ValuesIn(kVariants), [](const auto& p) {
    return TestName(std::string(p.param.selected) + " on " + p.param.connected);
});

}  // namespace
}  // namespace fwburn::test

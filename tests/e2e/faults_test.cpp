// Fault matrix: each fault kind at each phase it can hit, five times (the retries absorb it) and
// six times (the retry budget runs out). Every case ends with the right message in bounded
// virtual time, and never with a success unless the controller holds the image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/bench.hpp"

namespace fwburn::test {
namespace {

struct MatrixCase {
    std::string model;
    uint32_t length;
    Phase phase;
    FaultKind kind;
    int times;
    std::string expected;  // the final text
};

const char* const kUsbSuccess = "Firmware update is SUCCESSFUL!, please REPLUG the USB cable";
const char* const kSerialSuccess = "Firmware update is SUCCESSFUL";

// The message when a phase's budget runs out.
std::string Exhausted(Phase phase) {
    switch (phase) {
        case Phase::kModeQuery:
        case Phase::kBootModeQuery:
            return "NO RESPONSE @ State 1";
        case Phase::kIdQuery:
            return "NO RESPONSE @ State 2";
        case Phase::kUpdateRequest:
            return "NO RESPONSE @ State 3";
        case Phase::kVersionQuery:
            return "The bootloader version is unknown, do not support AIO FW update";
        case Phase::kBootId:
            return "PLC type is WRONG";
        case Phase::kBootVersion:
            return "PLC DOES NOT respond to the version read";
        case Phase::kEraseStep:
        case Phase::kEraseEnd:
            return "PLC DOES NOT respond to the erasing signal";
        case Phase::kUpdate:
            return "PLC DOES NOT respond to the update signal";
        case Phase::kBlock:
        case Phase::kTransferEnd:
            return "Firmware update is FAILED";
        default:
            return "";
    }
}

std::vector<MatrixCase> Matrix() {
    struct Target {
        const char* model;
        uint32_t length;
        std::vector<Phase> phases;
        const char* success;
    };
    const std::vector<Target> targets = {
        {"ZL500-AIO",
         11056,
         {Phase::kModeQuery, Phase::kIdQuery, Phase::kVersionQuery, Phase::kUpdateRequest,
          Phase::kBootModeQuery, Phase::kBootId, Phase::kBootVersion, Phase::kEraseStep,
          Phase::kEraseEnd, Phase::kUpdate, Phase::kBlock, Phase::kTransferEnd},
         kUsbSuccess},
        {"MN6",
         2048 * 4 + 7,
         {Phase::kModeQuery, Phase::kIdQuery, Phase::kUpdateRequest, Phase::kBootModeQuery,
          Phase::kBootId, Phase::kEraseStep, Phase::kEraseEnd, Phase::kUpdate, Phase::kBlock,
          Phase::kTransferEnd},
         kSerialSuccess},
    };
    const std::vector<FaultKind> asciiKinds = {FaultKind::kSilence, FaultKind::kShort,
                                               FaultKind::kBadLrc, FaultKind::kLowerCase,
                                               FaultKind::kGarbage};
    const std::vector<FaultKind> rawKinds = {FaultKind::kSilence, FaultKind::kShort,
                                             FaultKind::kNak, FaultKind::kGarbage};
    std::vector<MatrixCase> cases;
    for (const Target& t : targets) {
        for (Phase phase : t.phases) {
            for (FaultKind kind : sim::IsAsciiPhase(phase) ? asciiKinds : rawKinds) {
                // The version reply of a 1.0 bootloader ("...10...32") holds no hex letter:
                // lower case leaves it as it is.
                if (kind == FaultKind::kLowerCase && phase == Phase::kVersionQuery) {
                    continue;
                }
                for (int times : {5, 6}) {
                    cases.push_back({t.model, t.length, phase, kind, times,
                                     times == 5 ? t.success : Exhausted(phase)});
                }
            }
            // One late reply: dropped as stale, the retry carries on.
            cases.push_back({t.model, t.length, phase, FaultKind::kLate, 1, t.success});
        }
    }
    return cases;
}

std::string KindName(FaultKind k) {
    switch (k) {
        case FaultKind::kSilence:
            return "silence";
        case FaultKind::kShort:
            return "short";
        case FaultKind::kBadLrc:
            return "badlrc";
        case FaultKind::kLowerCase:
            return "lowercase";
        case FaultKind::kErrorReply:
            return "error";
        case FaultKind::kNak:
            return "nak";
        case FaultKind::kGarbage:
            return "garbage";
        case FaultKind::kLate:
            return "late";
    }
    return "?";
}

void PrintTo(const MatrixCase& c, std::ostream* os);

class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(FaultMatrix, RightMessageBoundedTimeHonestSuccess) {
    const MatrixCase& c = GetParam();
    const bool midPhase = c.phase == Phase::kBlock || c.phase == Phase::kEraseStep;
    Bench bench(Options(c.model, c.length, {Fault(c.phase, c.kind, c.times, midPhase ? 2 : 0)}));
    bench.Start();

    ASSERT_EQ(bench.finalMessages.size(), 1u);
    const std::string text = bench.Final().text;
    EXPECT_EQ(text, c.expected);
    EXPECT_EQ(IsSuccessText(text), bench.FlashMatchesImage());
    EXPECT_EQ(bench.outcome.kind == OutcomeKind::Success, IsSuccessText(text));
    EXPECT_LT(bench.link.NowMs(), 10 * 60 * 1000);
    // A late ACK to "ERASE" or "UPDATE" makes the host's resend a second command on the
    // controller: these words carry no number to tell a resend from the next one. The update
    // still succeeds; the controller notes the extra command.
    const bool resendSeenTwice =
        c.kind == FaultKind::kLate && (c.phase == Phase::kEraseStep || c.phase == Phase::kUpdate);
    EXPECT_EQ(bench.controller.violationCount(), resendSeenTwice ? 1u : 0u) << bench.Violations();
    // The fault was met and absorbed by retries (lower case changes only replies with letters).
    if (IsSuccessText(text) && c.kind != FaultKind::kLowerCase) {
        EXPECT_GE(bench.Final().totalErrCounter, c.times);
    }
}

void PrintTo(const MatrixCase& c, std::ostream* os) {
    *os << c.model << " " << sim::PhaseName(c.phase) << " x" << c.times;
}

INSTANTIATE_TEST_SUITE_P(E2e, FaultMatrix, ::testing::ValuesIn(Matrix()), [](const auto& p) {
    return TestName(p.param.model + "_" + sim::PhaseName(p.param.phase) + "_" +
                    KindName(p.param.kind) + "_x" + std::to_string(p.param.times));
});

}  // namespace
}  // namespace fwburn::test

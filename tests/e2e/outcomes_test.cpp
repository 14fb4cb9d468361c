// Every message the worker can end an update with, each reached through the simulated controller:
// caption, icon, when timer 5 stops, the figures shown with it, and whether flash was erased.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/bench.hpp"

namespace fwburn::test {
namespace {

struct OutcomeCase {
    std::string name;
    BenchOptions options;
    std::string text;
    bool timerAfterMessage = false;  // only the refused bootloader versions
    bool erased = false;             // the controller's program memory was erased
    int flashStatusShown = 0;        // the phase on the panel while the message is open
    bool anotherModel = false;       // a valid reply named another model: a wrong controller
    // Never answered, whatever the message says ("PLC type is WRONG" from a bootloader that told
    // no ID, an AIO version "unknown" for want of a reply): the line failed.
    bool unanswered = false;
};

BenchOptions With(BenchOptions o, void (*change)(sim::Faults&)) {
    change(o.faults);
    return o;
}

// An error reply to the attempts after the first `skip`.
sim::ReplyFault ErrorReplyAfter(Phase phase, uint8_t errorClass, uint8_t errorState, int skip) {
    sim::ReplyFault f = ErrorReply(phase, errorClass, errorState);
    f.skip = skip;
    return f;
}

std::vector<OutcomeCase> Cases() {
    std::vector<OutcomeCase> c = {
        // Mode query.
        {"run mode", With(Options("MN6", 9000), [](sim::Faults& f) { f.runMode = true; }),
         "PLC in RUN MODE"},
        {"mode flow error 1", Options("MN6", 9000, {ErrorReply(Phase::kModeQuery, 2, 1)}),
         "FLOW ERROR @ State 1"},
        {"mode flow error 2", Options("MN6", 9000, {ErrorReply(Phase::kModeQuery, 2, 2)}),
         "FLOW ERROR @ State 2"},
        {"mode flow error other state", Options("MN6", 9000, {ErrorReply(Phase::kModeQuery, 2, 9)}),
         "PLC type is WRONG"},
        {"mode unknown class", Options("MN6", 9000, {ErrorReply(Phase::kModeQuery, 5, 1)}),
         "UNKNOWN ERROR CODE @ State 1"},
        {"silent controller", With(Options("ZL500", 9000), [](sim::Faults& f) { f.silent = true; }),
         "NO RESPONSE @ State 1"},
        // Model-ID query.
        {"id flow error 2", Options("MN6", 9000, {ErrorReply(Phase::kIdQuery, 2, 2)}),
         "FLOW ERROR @ State 2"},
        {"id flow error 3", Options("MN6", 9000, {ErrorReply(Phase::kIdQuery, 2, 3)}),
         "FLOW ERROR @ State 3"},
        {"id flow error other state", Options("MN6", 9000, {ErrorReply(Phase::kIdQuery, 2, 1)}),
         "PLC type is WRONG"},
        {"id unknown class", Options("MN6", 9000, {ErrorReply(Phase::kIdQuery, 7, 2)}),
         "UNKNOWN ERROR CODE @ State 2"},
        {"another model answers", Options("ZL500", 13096, {}, "ZL600"), "NO RESPONSE @ State 2",
         false, false, 0, true},
        // The last reply decides: an error reply after wrong IDs is that error, not a wrong model.
        {"another model answers, then a flow error",
         Options("ZL500", 13096, {ErrorReplyAfter(Phase::kIdQuery, 2, 2, 5)}, "ZL600"),
         "FLOW ERROR @ State 2"},
        // Update request.
        {"update flow error 3", Options("MN6", 9000, {ErrorReply(Phase::kUpdateRequest, 2, 3)}),
         "FLOW ERROR @ State 3"},
        {"update flow error 4", Options("MN6", 9000, {ErrorReply(Phase::kUpdateRequest, 2, 4)}),
         "FLOW ERROR @ State 4"},
        {"update flow error other state",
         Options("MN6", 9000, {ErrorReply(Phase::kUpdateRequest, 2, 1)}), "PLC type is WRONG"},
        {"update unknown class", Options("MN6", 9000, {ErrorReply(Phase::kUpdateRequest, 1, 3)}),
         "UNKNOWN ERROR CODE @ State 3"},
        {"update request unanswered",
         Options("ZL500", 13096, {Fault(Phase::kUpdateRequest, FaultKind::kSilence)}),
         "NO RESPONSE @ State 3"},
        // Variants.
        {"RV7-KT5 selected, RV7-G connected", Options("RV7-KT5", 9000, {}, "RV7-G"),
         "Check PLC, RV7-KT5 is different than RV7-G"},
        {"RV7-G selected, RV7-KT5 connected", Options("RV7-G", 9000, {}, "RV7-KT5"),
         "Check PLC, RV7-KT5 is different than RV7-G"},
        {"TQ3 selected, TQ38 connected", Options("TQ3", 9000, {}, "TQ38"),
         "Check PLC, 12TQ3 is different than 28TQ3"},
        {"TQ38 selected, TQ3 connected", Options("TQ38", 9000, {}, "TQ3"),
         "Check PLC, 28TQ3 is different than 12TQ3"},
        {"HU selected, HU26 connected", Options("HU", 9000, {}, "HU26"),
         "Check PLC, 12HU is different than 26HU"},
        {"HU26 selected, HU connected", Options("HU26", 9000, {}, "HU"),
         "Check PLC, 26HU is different than 12HU"},
        {"RV7-G selected, variant register unanswered",
         Options("RV7-G", 9000, {Fault(Phase::kRegisterRead, FaultKind::kSilence)}),
         "Check PLC, RV7-KT5 is different than RV7-G"},
        // Bootloader version of the analog module.
        {"AIO bootloader 0.9",
         With(Options("ZL500-AIO", 11056),
              [](sim::Faults& f) {
                  f.version = sim::BootloaderVersion{0, 9};
              }),
         "The bootloader version is V0.9, do not support AIO FW update", true},
        {"AIO bootloader 1.1",
         With(Options("ZL500-AIO", 11056),
              [](sim::Faults& f) {
                  f.version = sim::BootloaderVersion{1, 1};
              }),
         "The bootloader version is unknown, do not support AIO FW update", true},
        {"AIO version unanswered in application mode",
         Options("ZL500-AIO", 11056, {Fault(Phase::kVersionQuery, FaultKind::kSilence)}),
         "The bootloader version is unknown, do not support AIO FW update", true, false, 0, false,
         true},
        {"AIO bootloader 0.9 found in boot mode",
         With(Options("ZL500-AIO", 11056),
              [](sim::Faults& f) {
                  f.version = sim::BootloaderVersion{0, 9};
                  f.bootAtPowerOn = true;
              }),
         "The bootloader version is V0.9, do not support AIO FW update", true},
        // Boot mode.
        {"bootloader of another model",
         With(Options("ZL500", 13096), [](sim::Faults& f) { f.bootId = 0x3000; }),
         "PLC type is WRONG"},
        {"bootloader silent to ID",
         Options("ZL500", 13096, {Fault(Phase::kBootId, FaultKind::kSilence)}), "PLC type is WRONG",
         false, false, 0, false, true},
        {"bootloader refuses ID", Options("MN6", 9000, {Fault(Phase::kBootId, FaultKind::kNak)}),
         "PLC type is WRONG", false, false, 0, false, true},
        {"bootloader version unanswered",
         Options("ZL500", 13096, {Fault(Phase::kBootVersion, FaultKind::kSilence)}),
         "PLC DOES NOT respond to the version read"},
        {"erase stops answering",
         Options("MN6", 9000, {Fault(Phase::kEraseStep, FaultKind::kSilence, sim::kForever, 2)}),
         "PLC DOES NOT respond to the erasing signal", false, true, 1},
        {"update signal refused", Options("MN6", 9000, {Fault(Phase::kUpdate, FaultKind::kNak)}),
         "PLC DOES NOT respond to the update signal", false, true, 1},
        {"block refused",
         Options("MN6", 9000, {Fault(Phase::kBlock, FaultKind::kNak, sim::kForever, 3)}),
         "Firmware update is FAILED", false, true, 2},
        {"link lost mid-transfer",
         With(Options("ZL500", 4096 + 256 * 30), [](sim::Faults& f) { f.linkLossAfterBlock = 10; }),
         "Firmware update is FAILED", false, true, 2},
    };
    return c;
}

// What kind of ending each message is, by category: the controller said no (wrong model or
// variant, run mode, a bootloader it cannot take), or the exchange failed; after the erase began,
// always a failed update.
OutcomeKind ExpectedKind(const OutcomeCase& c) {
    if (c.erased) {
        return OutcomeKind::FailedAfterErase;
    }
    if (c.anotherModel) {
        return OutcomeKind::ControllerRefused;
    }
    if (c.unanswered) {
        return OutcomeKind::CommunicationFailed;
    }
    const bool refused = c.text == "PLC type is WRONG" || c.text == "PLC in RUN MODE" ||
                         c.text.rfind("Check PLC, ", 0) == 0 ||
                         c.text.rfind("The bootloader version is ", 0) == 0;
    return refused ? OutcomeKind::ControllerRefused : OutcomeKind::CommunicationFailed;
}

class Outcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(Outcome, MessageTimerFiguresAndErase) {
    const OutcomeCase& c = GetParam();
    Bench bench(c.options);
    bench.update.figures.elapsedTime = 42;
    bench.Start();
    ASSERT_EQ(bench.finalMessages.size(), 1u);
    const OperatorEvent m = bench.Final();
    EXPECT_EQ(m.text, c.text);
    EXPECT_EQ(m.caption, "ERROR");
    EXPECT_EQ(m.icon, MessageIcon::Error);
    EXPECT_EQ(m.flashStatus, c.flashStatusShown);
    EXPECT_EQ(m.elapsedTime, 42);  // cleared only after the message

    // Timer 5 stops once: before the message, or after it for a refused bootloader version.
    const std::string seq = bench.op.Sequence();
    const size_t lastMessage = seq.rfind('M');
    ASSERT_EQ(std::count(seq.begin(), seq.end(), 'T'), 1) << seq;
    EXPECT_EQ(seq[c.timerAfterMessage ? lastMessage + 1 : lastMessage - 1], 'T') << seq;
    // Then the button, then the port.
    EXPECT_EQ(seq.substr(seq.size() - 2), "EC") << seq;

    EXPECT_EQ(bench.controller.eraseSteps() > 0, c.erased);
    EXPECT_FALSE(bench.FlashMatchesImage());
    EXPECT_EQ(bench.controller.violationCount(), 0u) << bench.Violations();
    bench.ExpectEndedClean();

    // The typed outcome: its kind, the message as shown, and whether an erase was asked for.
    EXPECT_EQ(bench.outcome.kind, ExpectedKind(c)) << OutcomeName(bench.outcome.kind);
    EXPECT_STREQ(bench.outcome.caption, "ERROR");
    EXPECT_EQ(std::string(bench.outcome.text), c.text);
    EXPECT_EQ(bench.outcome.icon, MessageIcon::Error);
    EXPECT_EQ(bench.outcome.erased, c.erased);
    EXPECT_TRUE(bench.outcome.shown());
}

INSTANTIATE_TEST_SUITE_P(E2e, Outcome, ::testing::ValuesIn(Cases()),
                         [](const auto& p) { return TestName(p.param.name); });

}  // namespace
}  // namespace fwburn::test

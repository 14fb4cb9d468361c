// What the worker tells beside its final message when an update ends for want of a good answer:
// the ID a controller of another model gave, or how silent the port was. The message itself stays
// the window's.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "burn/diagnosis.hpp"
#include "tests/e2e/bench.hpp"

namespace fwburn::test {
namespace {

struct DiagnosisCase {
    const char* name;
    const char* selected;
    const char* connected;  // "" for the selected model
    void (*faults)(sim::Faults&);
    const char* text;  // the final message, unchanged
    Finding finding;
    uint16_t id;             // WrongModel only
    bool bootloader;         // WrongModel only
    char sampleStart;        // first byte kept of what came back; 0: nothing checked
    bool confirmed = false;  // the silence came after the PLC answered the model's ID
};

void NoFault(sim::Faults&) {}
void Silent(sim::Faults& f) {
    f.silent = true;
}
void GarbledModeQuery(sim::Faults& f) {
    f.replies.push_back(Fault(Phase::kModeQuery, FaultKind::kGarbage));
}
void SilentIdQuery(sim::Faults& f) {
    f.replies.push_back(Fault(Phase::kIdQuery, FaultKind::kSilence));
}
void ForeignBootloader(sim::Faults& f) {
    f.bootAtPowerOn = true;
    f.bootId = 0x3000;
}
void RunMode(sim::Faults& f) {
    f.runMode = true;
}
void SilentRegister(sim::Faults& f) {
    f.replies.push_back(Fault(Phase::kRegisterRead, FaultKind::kSilence));
}

// clang-format off
const DiagnosisCase kCases[] = {
    {"a ZL600 on the ZL500 program", "ZL500", "ZL600", NoFault, "NO RESPONSE @ State 2",
     Finding::WrongModel, 0x3000, false, 0},
    {"an RV7-J on the RV7-G program", "RV7-G", "RV7-J", NoFault, "NO RESPONSE @ State 2",
     Finding::WrongModel, 0x0017, false, 0},
    {"a ZL500-AIO on the ZL500 program: the wake-up answered, nothing else", "ZL500",
     "ZL500-AIO", NoFault, "NO RESPONSE @ State 1", Finding::OnlyEarlier, 0, false, ':'},
    {"a ZL500 on the ZL500-AIO program", "ZL500-AIO", "ZL500", NoFault,
     "NO RESPONSE @ State 1", Finding::OnlyEarlier, 0, false, ':'},
    {"not one byte back", "ZL500", "", Silent, "NO RESPONSE @ State 1", Finding::NoBytes, 0,
     false, 0},
    {"bytes back, never a frame", "MN6", "", GarbledModeQuery, "NO RESPONSE @ State 1",
     Finding::NoValidReply, 0, false, '~'},
    {"the model-ID query unanswered", "MN6", "", SilentIdQuery, "NO RESPONSE @ State 2",
     Finding::OnlyEarlier, 0, false, ':'},
    {"the variant register unanswered", "RV7-KT5", "", SilentRegister,
     "PLC DOES NOT respond to the variant read", Finding::OnlyEarlier, 0, false, ':', true},
    {"a bootloader of another model", "ZL500", "", ForeignBootloader, "PLC type is WRONG",
     Finding::WrongModel, 0x3000, true, 0},
    {"an error reply says it all", "MN6", "", RunMode, "PLC in RUN MODE", Finding::None, 0,
     false, 0},
};
// clang-format on

void PrintTo(const DiagnosisCase& c, std::ostream* os) {
    *os << c.name;
}

class WorkerDiagnosis : public ::testing::TestWithParam<DiagnosisCase> {};

TEST_P(WorkerDiagnosis, TellsWhatCameBackAndKeepsTheMessage) {
    const DiagnosisCase& c = GetParam();
    BenchOptions o = Options(
        c.selected, std::string(c.selected).rfind("ZL500", 0) == 0 ? 13096 : 9000, {}, c.connected);
    c.faults(o.faults);
    Bench bench(o);
    bench.Start();

    EXPECT_STREQ(bench.outcome.text, c.text);
    const Diagnosis& d = bench.outcome.diagnosis;
    EXPECT_EQ(d.finding, c.finding);
    EXPECT_EQ(d.modelConfirmed, c.confirmed);
    if (c.finding == Finding::WrongModel) {
        EXPECT_EQ(d.id, c.id);
        EXPECT_EQ(d.bootloader, c.bootloader);
    }
    if (c.finding == Finding::NoBytes) {
        EXPECT_EQ(d.bytesReceived, 0u);
        EXPECT_EQ(d.sampleLength, 0);
    }
    if (c.sampleStart != 0) {
        EXPECT_GT(d.bytesReceived, 0u);
        ASSERT_GT(d.sampleLength, 0);
        EXPECT_EQ(d.sample[0], c.sampleStart);
    }
}

INSTANTIATE_TEST_SUITE_P(Endings, WorkerDiagnosis, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return TestName(p.param.name); });

TEST(WorkerDiagnosis, NothingToTellAfterASuccess) {
    Bench bench(Options("ZL500", 13096));
    bench.Start();
    ASSERT_EQ(bench.outcome.kind, OutcomeKind::Success);
    EXPECT_EQ(bench.outcome.diagnosis.finding, Finding::None);
}

// After the replug or power cycle the port is opened anew, and may not open at all: what the
// application answered before still counts, and the silence is told as the reopen's.
TEST(WorkerDiagnosis, AfterTheRequestTheReopenIsToldAndTheBytesBeforeItCount) {
    struct ReopenCase {
        const char* name;
        const char* model;  // a replug and a power-cycle model
        bool reopens;
        Finding finding;
    };
    const ReopenCase cases[] = {
        {"replugged, silent since", "ZL500", true, Finding::SilentSinceReopen},
        {"replugged, not there", "ZL500", false, Finding::NotReopened},
        {"power-cycled, not there", "RV7-G", false, Finding::NotReopened},
    };
    for (const ReopenCase& c : cases) {
        SCOPED_TRACE(c.name);
        // The first pass's five wake-ups are answered.
        Bench bench(Options(c.model, 13096,
                            {Fault(Phase::kWake, FaultKind::kSilence, sim::kForever, 5),
                             Fault(Phase::kBootModeQuery, FaultKind::kSilence)}));
        int opens = 0;
        bench.OpenWith([&]() -> Device* {
            return ++opens > 1 && !c.reopens ? &ClosedDevice()
                   : bench.link.Open()       ? static_cast<Device*>(&bench.link)
                                             : &ClosedDevice();
        });
        bench.Start();
        EXPECT_STREQ(bench.outcome.text, "NO RESPONSE @ State 1");  // the window's, unchanged
        EXPECT_EQ(bench.reconnects, 1);
        EXPECT_EQ(opens, 2);
        const Diagnosis& d = bench.outcome.diagnosis;
        EXPECT_EQ(d.finding, c.finding);
        EXPECT_GT(d.bytesReceived, 0u);  // the application's answers before the request
        ASSERT_GT(d.sampleLength, 0);
        EXPECT_EQ(d.sample[0], ':');
    }
}

struct NamesCase {
    uint16_t id;
    uint8_t target;
    const char* names;
};

TEST(ModelNamesForId, EveryModelOfAnIdAtItsAddress) {
    const NamesCase cases[] = {
        {0x3000, 0x59, "ZL600"},
        {0x3010, 0x59, "ZL500"},
        {0x3010, 0x5B, "ZL500-AIO"},
        {0x000C, 0x59, "RV7-KT5 or RV7-G"},
        {0x000D, 0x59, "RV7-KT5 or RV7-G"},  // their second ID
        {0x000D, 0x5B, "30KT5-AIO"},
        {0x0013, 0x59, "TQ3 or TQ38"},
        {0x0000, 0x59, "WD9"},
        {0x4242, 0x59, ""},
    };
    for (const NamesCase& c : cases) {
        char names[64];
        ModelNamesForId(c.id, c.target, names, sizeof names);
        EXPECT_STREQ(names, c.names) << std::hex << c.id;
    }
    char tiny[8];
    ModelNamesForId(0x000C, 0x59, tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "RV7-KT5");  // cut whole, never half a name
    char oneShort[7];               // the first name without room for its terminator
    ModelNamesForId(0x000C, 0x59, oneShort, sizeof oneShort);
    EXPECT_STREQ(oneShort, "");
}

}  // namespace
}  // namespace fwburn::test

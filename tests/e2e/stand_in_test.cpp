// A stand-in image (a build given no real firmware) reaches no controller without the operator's
// yes: the worker refuses it before any port opens. With the yes, or with a real image, the update
// runs as any other.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/e2e/bench.hpp"

namespace fwburn::test {
namespace {

const char kRefused[] =
    "TEST BUILD: the built-in image is a STAND-IN, not a firmware; NOTHING was written";

struct StandInCase {
    const char* name;
    const char* model;
    uint32_t length;
    bool standIn;
    bool allowed;
    const char* refusal;  // nullptr: the update runs and succeeds
};

// clang-format off
const StandInCase kCases[] = {
    {"USB model, stand-in, no yes", "ZL500", 4096 + 256 * 8, true, false, kRefused},
    {"serial model, stand-in, no yes", "RV7-G", 5000, true, false, kRefused},
    {"analog module, stand-in, no yes", "ZL500-AIO", 11056, true, false, kRefused},
    {"USB model, stand-in with the yes", "ZL500", 4096 + 256 * 8, true, true, nullptr},
    {"serial model, stand-in with the yes", "RV7-G", 5000, true, true, nullptr},
    {"real image needs no yes", "ZL500", 4096 + 256 * 8, false, false, nullptr},
    {"real image, a yes changes nothing", "TQ38", 5000, false, true, nullptr},
    // The size limit is judged first: the operator learns what no yes would cure.
    {"stand-in over the size limit", "ZL500-AIO", 40961, true, true, "The file size EXCEEDS the MAXIMUM size (40 * 1024)"},
    {"stand-in over the size limit, no yes", "ZL500-AIO", 40961, true, false, "The file size EXCEEDS the MAXIMUM size (40 * 1024)"},
};
// clang-format on

void PrintTo(const StandInCase& c, std::ostream* os) {
    *os << c.name;
}

class StandIn : public ::testing::TestWithParam<StandInCase> {};

TEST_P(StandIn, RefusedBeforeThePortOpensUnlessAllowed) {
    const StandInCase& c = GetParam();
    BenchOptions o = Options(c.model, c.length);
    o.standInImage = c.standIn;
    o.standInAllowed = c.allowed;
    Bench bench(o);
    bench.update.figures.elapsedTime = 3;
    bench.Start();

    ASSERT_EQ(bench.finalMessages.size(), 1u);
    const OperatorEvent m = bench.Final();
    if (c.refusal != nullptr) {
        EXPECT_EQ(m.caption, "ERROR");
        EXPECT_EQ(m.text, c.refusal);
        EXPECT_EQ(m.icon, MessageIcon::Error);
        EXPECT_EQ(m.elapsedTime, 3);
        // Nothing opened, nothing sent: the controller saw not one byte.
        EXPECT_EQ(bench.op.Sequence(), "DTME");
        EXPECT_EQ(bench.controller.requests(Phase::kWake), 0u);
        EXPECT_EQ(bench.controller.requests(Phase::kModeQuery), 0u);
        EXPECT_EQ(bench.controller.eraseSteps(), 0u);
        EXPECT_EQ(bench.update.figures.elapsedTime, 0);
        EXPECT_EQ(bench.outcome.kind, OutcomeKind::ImageRefused);
        EXPECT_FALSE(bench.outcome.erased);
    } else {
        EXPECT_TRUE(IsSuccessText(m.text)) << m.text;
        EXPECT_EQ(bench.outcome.kind, OutcomeKind::Success);
        EXPECT_TRUE(bench.FlashMatchesImage());
        EXPECT_EQ(bench.controller.violationCount(), 0u) << bench.Violations();
    }
    bench.ExpectEndedClean();
}

INSTANTIATE_TEST_SUITE_P(Worker, StandIn, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return TestName(p.param.name); });

}  // namespace
}  // namespace fwburn::test

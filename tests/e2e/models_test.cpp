// Every catalogue model updated end to end: the right prompt and wait, the right counts on the
// controller's side, the flash equal to the image byte for byte, one success message.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/e2e/bench.hpp"

namespace fwburn::test {
namespace {

// What the worker asks between the model-ID check and the update request, and (for the versions)
// of the bootloader after its ID check.
enum class Asks { kNothing, kVariant, kVersion };

struct ModelCase {
    const char* model;
    Asks asks;
    const char* prompt;  // nullptr: no prompt, the worker waits and keeps the port
    int waitSeconds;
    bool usb;
    uint32_t imageLength;
    // Worked out by hand from the model's erase and block rules for that length, so that a fault
    // in the catalogue's own arithmetic cannot hide behind it. Some lengths are exact multiples of
    // the erase unit, where "quotient + 1" and "rounded up" part.
    uint32_t eraseSteps;
    uint32_t blocks;
};

const char* const kReplug = "Please REPLUG the USB Cable, and then press OK to continue";
const char* const kPower = "Please POWER OFF=>ON the PLC, and then press OK to continue";

// clang-format off
const ModelCase kModels[] = {
    {"RV7-KT5", Asks::kVariant, nullptr, 1, false, 9001, 5, 71},
    {"MN6", Asks::kNothing, nullptr, 1, false, 9002, 5, 71},
    {"PB4", Asks::kNothing, nullptr, 1, false, 2048 * 5, 6, 80},
    {"TQ3", Asks::kVariant, nullptr, 1, false, 9003, 5, 71},
    {"RV7-G", Asks::kVariant, kPower, 2, false, 131072 + 5, 2, 1025},
    {"HU", Asks::kVariant, kReplug, 2, true, 16384, 2, 64},
    {"WD9", Asks::kNothing, nullptr, 1, false, 9004, 5, 71},
    {"30KT5-AIO", Asks::kNothing, nullptr, 1, false, 12288, 4, 48},
    {"PB", Asks::kNothing, nullptr, 1, false, 9005, 5, 71},
    {"RV7-F", Asks::kNothing, nullptr, 1, false, 9006, 5, 71},
    {"HU-N", Asks::kNothing, kReplug, 2, true, 9007, 1, 36},
    {"TQ3-N", Asks::kNothing, nullptr, 1, false, 9008, 5, 71},
    {"ZL600", Asks::kVersion, kReplug, 5, true, 4096 + 9009, 3, 36},
    {"RV-KT-WD8", Asks::kNothing, nullptr, 1, false, 9010, 5, 71},
    {"KT5-VUP", Asks::kNothing, kPower, 2, false, 9011, 1, 71},
    {"TQ38", Asks::kVariant, nullptr, 1, false, 9012, 1, 71},
    {"RV7-J", Asks::kNothing, nullptr, 1, false, 131072, 2, 1024},
    {"ZL500", Asks::kVersion, kReplug, 5, true, 4096 + 256 * 40, 3, 40},
    {"ZL500-AIO", Asks::kVersion, kReplug, 5, true, 2048 * 5, 5, 40},
    {"HU26", Asks::kVariant, kReplug, 2, true, 9014, 1, 71},
    {"RV6", Asks::kVersion, kReplug, 5, true, 4096 + 8192, 2, 32},
    {"FYB-W", Asks::kVersion, kReplug, 5, true, 4097, 1, 1},
};
// clang-format on

void PrintTo(const ModelCase& c, std::ostream* os) {
    *os << c.model;
}

class EveryModel : public ::testing::TestWithParam<ModelCase> {};

TEST_P(EveryModel, UpdatesEndToEnd) {
    const ModelCase& c = GetParam();
    Bench bench(Options(c.model, c.imageLength));
    bench.Start();

    const OperatorEvent final = bench.Final();
    EXPECT_EQ(final.caption, c.usb ? "Information" : "INFORMATION");
    EXPECT_EQ(final.text, c.usb ? "Firmware update is SUCCESSFUL!, please REPLUG the USB cable"
                                : "Firmware update is SUCCESSFUL");
    EXPECT_EQ(final.icon, MessageIcon::Information);
    EXPECT_EQ(final.flashStatus, 2);
    EXPECT_EQ(final.progress, 100);
    EXPECT_EQ(final.totalErrCounter, 0);
    EXPECT_EQ(final.done, c.blocks);  // every block counted, exactly
    EXPECT_EQ(final.total, c.blocks);

    EXPECT_TRUE(bench.FlashMatchesImage());
    EXPECT_EQ(bench.controller.violationCount(), 0u) << bench.Violations();
    EXPECT_EQ(bench.controller.eraseSteps(), c.eraseSteps);
    EXPECT_EQ(bench.controller.blocksTaken(), c.blocks);
    // A bootloader the updater has no business asking for its version may not know the word.
    const uint32_t variantReads = c.asks == Asks::kVariant ? 1 : 0;
    const uint32_t versionReads = c.asks == Asks::kVersion ? 1 : 0;
    EXPECT_EQ(bench.controller.requests(sim::Phase::kRegisterRead), variantReads);
    EXPECT_EQ(bench.controller.requests(sim::Phase::kVersionQuery), versionReads);
    EXPECT_EQ(bench.controller.requests(sim::Phase::kBootVersion), versionReads);

    // The reconnect: its prompt (or none), its wait, and the order of the operator calls.
    const auto messages = bench.op.Messages();
    ASSERT_EQ(messages.size(), c.prompt != nullptr ? 2u : 1u);
    if (c.prompt != nullptr) {
        EXPECT_EQ(messages[0].text, c.prompt);
        EXPECT_EQ(messages[0].caption, "Information");
        EXPECT_EQ(messages[0].icon, MessageIcon::Information);
        EXPECT_TRUE(messages[0].prompt);
        EXPECT_EQ(messages[0].reconnect,
                  c.prompt == kReplug ? ReconnectKind::ReplugUsb : ReconnectKind::PowerCycle);
    }
    const auto waits = bench.op.Of(OperatorEvent::kWait);
    ASSERT_EQ(waits.size(), 1u);
    EXPECT_EQ(waits[0].seconds, c.waitSeconds);
    const char open = c.usb ? 'U' : 'S';
    std::string sequence = std::string("D") + open;
    sequence += c.prompt != nullptr ? std::string("CMW") + open : std::string("W");
    sequence += "TMEC";
    EXPECT_EQ(bench.op.Sequence(), sequence);

    bench.ExpectEndedClean();

    // The typed outcome.
    EXPECT_EQ(bench.outcome.kind, OutcomeKind::Success);
    EXPECT_STREQ(bench.outcome.text, final.text.c_str());
    EXPECT_TRUE(bench.outcome.erased);
}

INSTANTIATE_TEST_SUITE_P(E2e, EveryModel, ::testing::ValuesIn(kModels),
                         [](const auto& p) { return TestName(p.param.model); });

// The delivered images at their full sizes.
TEST(E2e, DeliveredImageSizes) {
    struct Case {
        const char* model;
        uint32_t length;
        uint32_t eraseSteps;
        uint32_t blocks;
    };
    for (const Case& c : {Case{"ZL500", 2076672, 506, 8096}, Case{"ZL500-AIO", 11056, 6, 44}}) {
        Bench bench(Options(c.model, c.length));
        bench.Start();
        EXPECT_EQ(bench.Final().text,
                  "Firmware update is SUCCESSFUL!, please REPLUG the USB cable");
        EXPECT_TRUE(bench.FlashMatchesImage()) << c.model;
        EXPECT_EQ(bench.controller.eraseSteps(), c.eraseSteps);
        EXPECT_EQ(bench.controller.blocksTaken(), c.blocks);
        EXPECT_EQ(bench.controller.violationCount(), 0u) << bench.Violations();
    }
}

}  // namespace
}  // namespace fwburn::test

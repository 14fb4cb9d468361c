// Whole updates through the link, as a correct host drives them with raw bytes: no violation,
// and the flash holds the image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/sim/sim_test_support.hpp"

namespace fwburn::sim {
namespace {

using test::Bench;
using test::Bytes;
using test::MakeConfig;
using test::UpdatePlan;

constexpr Reconnect kSelf = Reconnect::kByItself;
constexpr Reconnect kPlug = Reconnect::kReplug;
constexpr Reconnect kPower = Reconnect::kPowerCycle;

TEST(SimUpdate, ACorrectHostUpdatesEachKindOfModel) {
    const struct {
        const char* model;
        uint32_t length;
        UpdatePlan plan;
    } cases[] = {
        {"MN6", 5000, {false, kSelf, 3, 128, 5000}},
        {"RV7-F", 2048, {false, kSelf, 2, 128, 2048}},
        {"30KT5-AIO", 3000, {true, kSelf, 4, 256, 3000}},
        {"RV7-G", 3000, {false, kPower, 1, 128, 3000}},
        {"KT5-VUP", 262144, {false, kPower, 3, 128, 262144}},
        {"HU", 20000, {false, kPlug, 2, 256, 20000}},
        {"HU26", 1000, {false, kPlug, 1, 128, 1000}},
        {"ZL500", 9000, {false, kPlug, 2, 256, 4904}},
        {"ZL500-AIO", 11056, {true, kPlug, 6, 256, 11056}},
    };
    for (const auto& c : cases) {
        for (bool wire : {false, true}) {
            SCOPED_TRACE(std::string(c.model) + (wire ? " at wire speed" : ""));
            Bench b(MakeConfig(c.model, c.length), {wire});
            const Bytes image = test::MakeImage(c.length);
            EXPECT_EQ(test::RunUpdate(b, image, c.plan), "");
            EXPECT_EQ(b.controller.violations(), std::vector<std::string>{});
            EXPECT_TRUE(b.controller.transferComplete());
            Bytes want(image.begin(), image.begin() + c.plan.sentBytes);
            want.resize(b.controller.flash().size(), 0x1A);
            EXPECT_EQ(b.controller.flash(), want);
            EXPECT_EQ(b.controller.flash().size() % c.plan.blockSize, 0u);
            // Once written, the new application runs after the next power-on.
            b.link.PowerCycle();
            EXPECT_EQ(b.controller.state(), State::kApplication);
        }
    }
}

TEST(SimUpdate, AControllerThatStaysInTheApplicationNeverReachesTheBootloader) {
    Faults f;
    f.stayInApplication = true;
    for (const char* model : {"MN6", "HU", "RV7-G"}) {
        SCOPED_TRACE(model);
        Bench b(MakeConfig(model, 3000, f));
        const Reconnect r = b.controller.model().reconnect;
        EXPECT_EQ(test::RunUpdate(b, test::MakeImage(3000), {false, r, 2, 128, 3000}),
                  "no boot mode after the reconnect");
        EXPECT_EQ(b.controller.state(), State::kApplication);
        EXPECT_EQ(b.controller.requests(Phase::kUpdateRequest), 1u);
        EXPECT_EQ(b.controller.violationCount(), 0u);
    }
}

TEST(SimUpdate, AControllerInItsBootloaderAtPowerOnAnswersBootMode) {
    Faults f;
    f.bootAtPowerOn = true;
    Bench b(MakeConfig("ZL500", 9000, f));
    EXPECT_EQ(test::RunUpdate(b, test::MakeImage(9000), {false, kPlug, 2, 256, 4904}),
              "no application mode");
    EXPECT_EQ(b.controller.requests(Phase::kBootModeQuery), 1u);
}

}  // namespace
}  // namespace fwburn::sim

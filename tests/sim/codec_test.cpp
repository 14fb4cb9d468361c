// The simulator's own checksums, framing and model table.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "sim/ascii.hpp"
#include "sim/crc.hpp"
#include "sim/models.hpp"
#include "sim/requests.hpp"

namespace fwburn::sim {
namespace {

TEST(SimCrc, MatchesTheXmodemCheckValueAndKnownBlocks) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc16Xmodem(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x31C3);
    const std::vector<uint8_t> zeros(256, 0);
    EXPECT_EQ(Crc16Xmodem(zeros.data(), zeros.size()), 0x0000);
    const uint8_t a = 'A';
    EXPECT_EQ(Crc16Xmodem(&a, 1), 0x58E5);
}

TEST(SimFrame, NamesWhatIsWrongWithADamagedFrame) {
    const struct {
        const char* text;
        FrameError error;
    } cases[] = {
        {":006401590142\r\n", FrameError::kBadLrc},   {":007f81\r\n", FrameError::kLowerCase},
        {":00640159014\r\n", FrameError::kOddLength}, {":0064G1590141\r\n", FrameError::kNotHex},
        {":006401590141\n", FrameError::kNoCrLf},     {":81\r\n", FrameError::kTooShort},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeFrame(c.text).error, c.error) << c.text;
    }
    EXPECT_EQ(DecodeFrame(":0064015B4552415345D0\r\n").message,
              (std::vector<uint8_t>{0x00, 0x64, 0x01, 0x5B, 'E', 'R', 'A', 'S', 'E'}));
    EXPECT_EQ(Identify({0x00, 0x64, 0x01, 0x59, 0x99}).request, Request::kUnknown);
    EXPECT_EQ(Identify({0x00, 0x64, 0x02, 0x59, 0x01}).request, Request::kUnknown);
    EXPECT_EQ(Identify({0x01, 0x7F}).request, Request::kUnknown);
}

TEST(SimModels, ExpectedGeometryFollowsEachModelsRule) {
    const struct {
        const char* model;
        uint32_t length;
        uint16_t erase;
        uint32_t blocks;
        uint32_t sent;
    } cases[] = {
        {"ZL500", 2076672, 506, 8096, 2072576},  // the delivered main-CPU image
        {"ZL500-AIO", 11056, 6, 44, 11056},      // the delivered analog-module image
        {"HU", 16384, 2, 64, 16384},             // + 1 even for an exact multiple
        {"HU-N", 16383, 1, 64, 16383},
        {"30KT5-AIO", 5000, 4, 20, 5000},
        {"RV7-G", 131072, 2, 1024, 131072},
        {"HU26", 1000, 1, 8, 1000},  // 128-byte blocks though USB-linked
        {"MN6", 4096, 3, 32, 4096},
        {"TQ3-N", 2047, 1, 16, 2047},
        {"FYB-W", 4097, 1, 1, 1},
        {"ZL600", 1000, 0, 0, 0},  // nothing left to send must not wrap
        {"RV6", 12288, 2, 32, 8192},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        const Geometry g = ExpectedGeometry(*FindModel(c.model), c.length);
        EXPECT_EQ(g.eraseSteps, c.erase);
        EXPECT_EQ(g.blocks, c.blocks);
        EXPECT_EQ(g.sentBytes, c.sent);
    }
}

TEST(SimModels, TableHoldsTheFamiliesAndTheReportedIds) {
    std::set<std::string_view> names, usb, analog, powerCycle, wide, skip4K;
    for (const ModelInfo& m : Models()) {
        names.insert(m.name);
        if (m.link == LinkKind::kUsb)
            usb.insert(m.name);
        if (m.analogModule)
            analog.insert(m.name);
        if (m.reconnect == Reconnect::kPowerCycle)
            powerCycle.insert(m.name);
        if (m.blockSize == 256)
            wide.insert(m.name);
        if (m.skipsLast4K)
            skip4K.insert(m.name);
        // Only the USB models wait for a replug; every other one restarts by itself or power.
        EXPECT_EQ(m.reconnect == Reconnect::kReplug, m.link == LinkKind::kUsb) << m.name;
    }
    using Set = std::set<std::string_view>;
    EXPECT_EQ(names.size(), 22u);
    EXPECT_EQ(usb, (Set{"HU", "HU-N", "ZL600", "ZL500", "ZL500-AIO", "HU26", "RV6", "FYB-W"}));
    EXPECT_EQ(analog, (Set{"30KT5-AIO", "ZL500-AIO"}));
    EXPECT_EQ(powerCycle, (Set{"RV7-G", "KT5-VUP"}));
    EXPECT_EQ(wide,
              (Set{"HU", "HU-N", "ZL600", "ZL500", "ZL500-AIO", "RV6", "FYB-W", "30KT5-AIO"}));
    EXPECT_EQ(skip4K, (Set{"ZL600", "ZL500", "RV6", "FYB-W"}));
    const struct {
        const char* model;
        uint16_t app;
        uint16_t boot;
    } ids[] = {{"RV7-F", 0xA001, 0x2001}, {"TQ3-N", 0xA003, 0x2003}, {"KT5-VUP", 0xA006, 0x2006},
               {"HU-N", 0xA002, 0xA002},  {"FYB-W", 0xA00B, 0xA00B}, {"ZL500-AIO", 0x3010, 0x3010},
               {"RV7-G", 0x000C, 0x000C}, {"WD9", 0x0000, 0x0000}};
    for (const auto& c : ids) {
        EXPECT_EQ(FindModel(c.model)->appId, c.app) << c.model;
        EXPECT_EQ(FindModel(c.model)->bootId, c.boot) << c.model;
    }
    EXPECT_EQ(FindModel("zl500"), nullptr);
    EXPECT_EQ(FindModel("ZL50"), nullptr);
}

}  // namespace
}  // namespace fwburn::sim

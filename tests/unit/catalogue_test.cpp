// The catalogue against an independent copy of the per-model summary: every row, every rule.
#include <gtest/gtest.h>

#include "tests/support/test_name.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "catalogue/catalogue.hpp"

namespace fwburn {
namespace {

enum class Erase { Div2048Plus1, Div131072Plus1, Div16384Plus1, ZlUp, Div2048Up, Four };
enum class Check { None, Pair12, Pair19, Pair21, Version, VersionJudged };

struct Row {
    const char* name;
    uint16_t id;
    bool usb;
    bool analog;
    bool powerCycle;
    bool wideBlock;
    uint32_t limit;
    Check check;
    ReconnectKind reconnect;
    int waitSeconds;
    std::vector<uint16_t> bootIdsCpu;  // accepted boot-mode reply IDs, fwburn-cpu rule
    std::vector<uint16_t> bootIdsAio;  // accepted boot-mode reply IDs, fwburn-aio rule
    Erase erase;
    uint32_t block;
    bool keepsTail;
};

constexpr auto W = ReconnectKind::Wait;
constexpr auto U = ReconnectKind::ReplugUsb;
constexpr auto P = ReconnectKind::PowerCycle;

// Written out from the model summary, not derived from the code's tables.
// clang-format off
const Row kRows[kModelCount] = {
    {"RV7-KT5", 0x000C, false, false, false, false, 0x78000, Check::Pair12, W, 1, {12, 13}, {12, 13}, Erase::Div2048Plus1, 128, false},
    {"MN6", 0x000E, false, false, false, false, 0x78000, Check::None, W, 1, {0x0E}, {0x0E}, Erase::Div2048Plus1, 128, false},
    {"PB4", 0x000F, false, false, false, false, 0x78000, Check::None, W, 1, {0x0F}, {0x0F}, Erase::Div2048Plus1, 128, false},
    {"TQ3", 0x0013, false, false, false, false, 0x78000, Check::Pair19, W, 1, {0x13}, {0x13}, Erase::Div2048Plus1, 128, false},
    {"RV7-G", 0x000C, false, false, true, false, 0x80000, Check::Pair12, P, 2, {12, 13}, {12, 13}, Erase::Div131072Plus1, 128, false},
    {"HU", 0x0015, true, false, false, true, 0x78000, Check::Pair21, U, 2, {0x15}, {0x15}, Erase::Div16384Plus1, 256, false},
    {"WD9", 0x0000, false, false, false, false, 0x78000, Check::None, W, 1, {0x00}, {0x00}, Erase::Div2048Plus1, 128, false},
    {"30KT5-AIO", 0x000D, false, true, false, true, 0x3000, Check::None, W, 1, {0x0D}, {0x0D}, Erase::Four, 256, false},
    {"PB", 0x0008, false, false, false, false, 0x78000, Check::None, W, 1, {0x08}, {0x08}, Erase::Div2048Plus1, 128, false},
    {"RV7-F", 0xA001, false, false, false, false, 0x78000, Check::None, W, 1, {0x2001}, {0x2001}, Erase::Div2048Plus1, 128, false},
    {"HU-N", 0xA002, true, false, false, true, 0x78000, Check::None, U, 2, {0xA002}, {0xA002}, Erase::Div16384Plus1, 256, false},
    {"TQ3-N", 0xA003, false, false, false, false, 0x78000, Check::None, W, 1, {0x2003}, {0x2003}, Erase::Div2048Plus1, 128, false},
    {"ZL600", 0x3000, true, false, false, true, 0x1FB000, Check::Version, U, 5, {0x3000, 0xA00B}, {0x3000}, Erase::ZlUp, 256, true},
    {"RV-KT-WD8", 0x0003, false, false, false, false, 0x78000, Check::None, W, 1, {0x03}, {0x03}, Erase::Div2048Plus1, 128, false},
    {"KT5-VUP", 0xA006, false, false, true, false, 0x80000, Check::None, P, 2, {0x2006}, {0x2006}, Erase::Div131072Plus1, 128, false},
    {"TQ38", 0x0013, false, false, false, false, 0x80000, Check::Pair19, W, 1, {0x13}, {0x13}, Erase::Div131072Plus1, 128, false},
    {"RV7-J", 0x0017, false, false, false, false, 0xE0000, Check::None, W, 1, {0x17}, {0x17}, Erase::Div131072Plus1, 128, false},
    {"ZL500", 0x3010, true, false, false, true, 0x1FB000, Check::Version, U, 5, {0x3010}, {0x3010}, Erase::ZlUp, 256, true},
    {"ZL500-AIO", 0x3010, true, true, false, true, 0xA000, Check::VersionJudged, U, 5, {0x3010}, {0x3010}, Erase::Div2048Up, 256, false},
    {"HU26", 0x0015, true, false, false, false, 0xE0000, Check::Pair21, U, 2, {0x15}, {0x15}, Erase::Div131072Plus1, 128, false},
    {"RV6", 0x0020, true, false, false, true, 0x1FB000, Check::Version, U, 5, {0x20}, {0x20}, Erase::ZlUp, 256, true},
    {"FYB-W", 0xA00B, true, false, false, true, 0x1FB000, Check::Version, U, 5, {0x3000, 0xA00B}, {0xA00B}, Erase::ZlUp, 256, true},
};
// clang-format on

uint32_t ExpectedErase(Erase e, uint32_t l) {
    switch (e) {
        case Erase::Div2048Plus1:
            return l / 2048 + 1;
        case Erase::Div131072Plus1:
            return l / 131072 + 1;
        case Erase::Div16384Plus1:
            return l / 16384 + 1;
        case Erase::ZlUp:
            return (l - 4096 + 4095) / 4096;
        case Erase::Div2048Up:
            return (l + 2047) / 2048;
        case Erase::Four:
            return 4;
    }
    return 0;
}

class EveryRow : public ::testing::TestWithParam<int> {
  protected:
    int row() const { return GetParam(); }
    const Row& want() const { return kRows[GetParam()]; }
};

TEST_P(EveryRow, NameIdAndLookup) {
    EXPECT_STREQ(ModelName(row()), want().name);
    EXPECT_STREQ(ModelAt(row()).name, want().name);
    EXPECT_EQ(ModelId(row()), want().id);
    EXPECT_EQ(ModelAt(row()).id, want().id);
    EXPECT_EQ(FindModelRow(want().name), row());
    // Fits the window's 15-character model text with its terminating zero.
    EXPECT_LT(std::strlen(ModelName(row())), static_cast<size_t>(kModelNameSlot));
}

TEST_P(EveryRow, Kinds) {
    EXPECT_EQ(IsUsbLinked(row()), want().usb);
    EXPECT_EQ(ModelAt(row()).link == LinkKind::Usb, want().usb);
    EXPECT_EQ(ReadsBootloaderVersion(row()),
              want().check == Check::Version || want().check == Check::VersionJudged);
    const bool pair = want().check == Check::Pair12 || want().check == Check::Pair19 ||
                      want().check == Check::Pair21;
    EXPECT_EQ(VariantRegisterFor(row()) != VariantRegister::None, pair);
    // The 256-byte block is the wide one.
    EXPECT_EQ(ModelAt(row()).blockSize == 256, want().wideBlock);
}

TEST_P(EveryRow, TargetByteAndSilentUpdateRequest) {
    EXPECT_EQ(TargetByte(row()), want().analog ? 0x5B : 0x59);
    EXPECT_EQ(AcceptsSilentUpdateRequest(row()), want().powerCycle);
}

TEST_P(EveryRow, SizeLimitAtAndPastTheEdge) {
    const SizeLimit limit = ImageSizeLimit(row());
    EXPECT_EQ(limit.limit, want().limit);
    EXPECT_EQ(ImageRefusal(row(), want().limit), nullptr);
    EXPECT_STREQ(ImageRefusal(row(), want().limit + 1), limit.message);
    EXPECT_STREQ(ImageRefusal(row(), 0), kImageMissingMessage);
    EXPECT_EQ(KeepsImageTail(row()), want().keepsTail);
    EXPECT_STREQ(ImageRefusal(row(), 4096), want().keepsTail ? kImageTooSmallMessage : nullptr);
    EXPECT_EQ(ImageRefusal(row(), 4097), nullptr);
}

TEST_P(EveryRow, ApplicationIdCheckAndVariantRegister) {
    EXPECT_TRUE(AppIdAccepted(row(), want().id));
    EXPECT_EQ(AppIdAccepted(row(), 13), want().id == 12 || want().id == 13);
    EXPECT_FALSE(AppIdAccepted(row(), static_cast<uint16_t>(want().id ^ 0x8000)));
    // 0 is WD9's ID: a row without a second ID must not take it for one.
    EXPECT_EQ(AppIdAccepted(row(), 0), want().id == 0);
    VariantRegister reg = VariantRegister::None;
    if (want().check == Check::Pair12) {
        reg = VariantRegister::D1386;
    } else if (want().check == Check::Pair19 || want().check == Check::Pair21) {
        reg = VariantRegister::D1148;
    }
    EXPECT_EQ(VariantRegisterFor(row()), reg);
}

TEST_P(EveryRow, BootIdRules) {
    std::set<uint16_t> candidates = {0x0000, 0x000C, 0x000D, 0x2001, 0x2003, 0x2006,
                                     0x3000, 0xA00B, 0x3010, 0x800C, 0xFFFF};
    for (const Row& r : kRows) {
        candidates.insert(r.id);
        candidates.insert(static_cast<uint16_t>(r.id & 0x7FFF));
    }
    for (uint16_t reply : candidates) {
        const auto& cpu = want().bootIdsCpu;
        const auto& aio = want().bootIdsAio;
        const bool cpuOk = std::find(cpu.begin(), cpu.end(), reply) != cpu.end();
        const bool aioOk = std::find(aio.begin(), aio.end(), reply) != aio.end();
        EXPECT_EQ(BootIdAccepted(BootIdRule::Cpu, row(), reply), cpuOk) << reply;
        EXPECT_EQ(BootIdAccepted(BootIdRule::Aio, row(), reply), aioOk) << reply;
    }
}

TEST_P(EveryRow, ReconnectAndSuccessWording) {
    const Reconnect r = ReconnectFor(row());
    EXPECT_EQ(r.kind, want().reconnect);
    EXPECT_EQ(r.waitSeconds, want().waitSeconds);
    switch (want().reconnect) {
        case ReconnectKind::Wait:
            EXPECT_EQ(r.prompt, nullptr);
            break;
        case ReconnectKind::ReplugUsb:
            EXPECT_STREQ(r.prompt, "Please REPLUG the USB Cable, and then press OK to continue");
            break;
        case ReconnectKind::PowerCycle:
            EXPECT_STREQ(r.prompt, "Please POWER OFF=>ON the PLC, and then press OK to continue");
            break;
    }
    const Outcome ok = SuccessOutcome(row());
    if (want().usb) {
        EXPECT_STREQ(ok.caption, "Information");
        EXPECT_STREQ(ok.text, "Firmware update is SUCCESSFUL!, please REPLUG the USB cable");
    } else {
        EXPECT_STREQ(ok.caption, "INFORMATION");
        EXPECT_STREQ(ok.text, "Firmware update is SUCCESSFUL");
    }
}

TEST_P(EveryRow, EraseAndTransferGeometryOverManyLengths) {
    const uint32_t limit = want().limit;
    const std::vector<uint32_t> lengths = {4097,  4224,      8192,      11056, 16384,
                                           16385, limit / 3, limit - 1, limit};
    for (uint32_t l : lengths) {
        if (l > limit) {
            continue;
        }
        EXPECT_EQ(EraseCount(row(), l), ExpectedErase(want().erase, l)) << l;
        const TransferGeometry g = TransferGeometryFor(row(), l);
        const uint32_t sent = want().keepsTail ? l - 4096 : l;
        EXPECT_EQ(g.blockSize, want().block) << l;
        EXPECT_EQ(g.frameLength, want().block + 5) << l;
        EXPECT_EQ(g.bytesSent, sent) << l;
        EXPECT_EQ(g.blockCount, (sent + want().block - 1) / want().block) << l;
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, EveryRow, ::testing::Range(0, kModelCount),
                         [](const ::testing::TestParamInfo<int>& p) {
                             return "row" + std::to_string(p.param) + "_" +
                                    test::TestName(kRows[p.param].name);
                         });

TEST(Catalogue, LookupIsByExactWholeName) {
    struct Case {
        const char* name;
        int row;
    };
    const Case cases[] = {
        {"ZL500", 17}, {"ZL500-AIO", 18}, {"HU", 5},     {"HU-N", 10},  {"HU26", 19},
        {"TQ3", 3},    {"TQ38", 15},      {"TQ3-N", 11}, {"zl500", -1}, {"ZL500 ", -1},
        {"ZL50", -1},  {"", -1},          {"PB", 8},     {"PB4", 2},    {"RV7", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindModelRow(c.name), c.row) << c.name;
    }
    EXPECT_EQ(FindModelRow(nullptr), -1);
    EXPECT_EQ(FindModelRow("ZL500-AI"), -1);
    EXPECT_EQ(FindModelRow("RV7-G "), -1);
}

TEST(Catalogue, RowsOutsideTheCatalogueMatchNothing) {
    for (int row : {-1, kModelCount, 1000}) {
        EXPECT_STREQ(ModelName(row), "");
        EXPECT_EQ(ModelId(row), 0);
        EXPECT_FALSE(IsUsbLinked(row));
        EXPECT_FALSE(AppIdAccepted(row, 0));
        EXPECT_EQ(VariantRegisterFor(row), VariantRegister::None);
        EXPECT_FALSE(ReadsBootloaderVersion(row));
        EXPECT_EQ(ImageSizeLimit(row).limit, 0x78000u);
    }
}

TEST(Catalogue, ZlAndAioShareAnIdAndDifferOnlyByName) {
    EXPECT_EQ(ModelId(17), ModelId(18));
    EXPECT_NE(TargetByte(17), TargetByte(18));
    EXPECT_NE(ImageSizeLimit(17).limit, ImageSizeLimit(18).limit);
    EXPECT_NE(EraseCount(17, 11056 + 4096), EraseCount(18, 11056 + 4096));
    EXPECT_NE(TransferGeometryFor(17, 11056).bytesSent, TransferGeometryFor(18, 11056).bytesSent);
    EXPECT_EQ(VersionRefusal(17, 0x09), nullptr);
    EXPECT_NE(VersionRefusal(18, 0x09), nullptr);
}

TEST(Catalogue, SizeMessages) {
    struct Case {
        const char* model;
        const char* message;
    };
    const Case cases[] = {
        {"RV7-G", "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 4)"},
        {"KT5-VUP", "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 4)"},
        {"TQ38", "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 4)"},
        {"RV7-J", "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 7)"},
        {"HU26", "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 7)"},
        {"30KT5-AIO", "The file size EXCEEDS the MAXIMUM size (12 * 1024)"},
        {"ZL500-AIO", "The file size EXCEEDS the MAXIMUM size (40 * 1024)"},
        {"ZL600", "The file size EXCEEDS the MAXIMUM size (2028 * 1024)"},
        {"ZL500", "The file size EXCEEDS the MAXIMUM size (2028 * 1024)"},
        {"RV6", "The file size EXCEEDS the MAXIMUM size (2028 * 1024)"},
        {"FYB-W", "The file size EXCEEDS the MAXIMUM size (2028 * 1024)"},
        {"HU", "The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)"},
        {"WD9", "The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(ImageSizeLimit(FindModelRow(c.model)).message, c.message) << c.model;
    }
    EXPECT_STREQ(kImageMissingMessage, "The firmware image is MISSING or EMPTY");
    EXPECT_STREQ(kImageTooSmallMessage, "The file size is TOO SMALL (4 * 1024 or less)");
}

TEST(Catalogue, DeliveredImagesCounts) {
    const int zl500 = FindModelRow("ZL500");
    const int aio = FindModelRow("ZL500-AIO");
    EXPECT_EQ(ImageRefusal(zl500, 2076672), nullptr);  // exactly the limit
    EXPECT_EQ(EraseCount(zl500, 2076672), 506);
    EXPECT_EQ(TransferGeometryFor(zl500, 2076672).blockCount, 8096u);
    EXPECT_EQ(TransferGeometryFor(zl500, 2076672).bytesSent, 2072576u);
    EXPECT_EQ(EraseCount(aio, 11056), 6);
    EXPECT_EQ(TransferGeometryFor(aio, 11056).blockCount, 44u);
    EXPECT_EQ(EraseCount(FindModelRow("HU"), 16384), 2);  // the + 1 is unconditional
    EXPECT_EQ(EraseCount(FindModelRow("30KT5-AIO"), 1), 4);
    EXPECT_EQ(EraseCount(FindModelRow("30KT5-AIO"), 12288), 4);
    // No count wraps for a too-short image of the tail-keeping models, whatever the caller does.
    for (uint32_t l : {0u, 1u, 4095u, 4096u}) {
        EXPECT_EQ(EraseCount(zl500, l), 0) << l;
        EXPECT_EQ(TransferGeometryFor(zl500, l).blockCount, 0u) << l;
    }
}

TEST(Catalogue, VariantChecksBothWays) {
    struct Case {
        const char* selected;
        uint16_t value;
        const char* message;  // nullptr: the variant matches
    };
    const Case cases[] = {
        {"RV7-G", 0x4138, nullptr},
        {"RV7-G", 0x4137, nullptr},
        {"RV7-G", 0x4139, "Check PLC, RV7-KT5 is different than RV7-G"},
        {"RV7-G", 0, "Check PLC, RV7-KT5 is different than RV7-G"},
        {"RV7-KT5", 0, nullptr},
        {"RV7-KT5", 0x1234, nullptr},
        {"RV7-KT5", 0x4138, "Check PLC, RV7-KT5 is different than RV7-G"},
        {"RV7-KT5", 0x4137, "Check PLC, RV7-KT5 is different than RV7-G"},
        {"TQ38", 1, nullptr},
        {"TQ38", 0, "Check PLC, 28TQ3 is different than 12TQ3"},
        {"TQ3", 0, nullptr},
        {"TQ3", 1, "Check PLC, 12TQ3 is different than 28TQ3"},
        {"TQ3", 0xFFFF, "Check PLC, 12TQ3 is different than 28TQ3"},
        {"HU26", 7, nullptr},
        {"HU26", 0, "Check PLC, 26HU is different than 12HU"},
        {"HU", 0, nullptr},
        {"HU", 7, "Check PLC, 12HU is different than 26HU"},
        {"ZL500", 0x4138, nullptr},
        {"MN6", 0, nullptr},
    };
    for (const Case& c : cases) {
        const int row = FindModelRow(c.selected);
        const char* got = VariantMismatch(row, c.value);
        if (c.message == nullptr) {
            EXPECT_EQ(got, nullptr) << c.selected << " " << c.value;
        } else {
            EXPECT_STREQ(got, c.message) << c.selected << " " << c.value;
        }
    }
}

TEST(Catalogue, BootloaderVersionJudgedForAioOnly) {
    const int aio = FindModelRow("ZL500-AIO");
    EXPECT_EQ(VersionRefusal(aio, 0x10), nullptr);
    EXPECT_STREQ(VersionRefusal(aio, 0x09),
                 "The bootloader version is V0.9, do not support AIO FW update");
    for (int v : {0x00, 0x11, 0x15, 0x90, 0xFF}) {
        EXPECT_STREQ(VersionRefusal(aio, static_cast<uint8_t>(v)),
                     "The bootloader version is unknown, do not support AIO FW update");
    }
    for (const char* other : {"ZL600", "ZL500", "RV6", "FYB-W", "HU"}) {
        EXPECT_EQ(VersionRefusal(FindModelRow(other), 0x00), nullptr) << other;
    }
}

}  // namespace
}  // namespace fwburn

#include "sim/models.hpp"

namespace fwburn::sim {

namespace {

constexpr LinkKind S = LinkKind::kSerial;
constexpr LinkKind U = LinkKind::kUsb;
constexpr Reconnect kSelf = Reconnect::kByItself;
constexpr Reconnect kPlug = Reconnect::kReplug;
constexpr Reconnect kPower = Reconnect::kPowerCycle;
constexpr EraseRule k2K = EraseRule::kPer2KPlusOne;
constexpr EraseRule k16K = EraseRule::kPer16KPlusOne;
constexpr EraseRule k128K = EraseRule::kPer128KPlusOne;
constexpr EraseRule k4K = EraseRule::kPer4KBelowLast4K;
constexpr EraseRule k2KUp = EraseRule::kPer2KRoundedUp;
constexpr EraseRule kFour = EraseRule::kFixedFour;
constexpr BootloaderVersion kV10{1, 0};

// Serial bootloaders talk 7-bit until the transfer starts, so an ID with its top bit set comes
// out with that bit cleared (RV7-F, TQ3-N, KT5-VUP). RV7-G tells itself apart from RV7-KT5 by
// D1386 ("A8"); TQ38 and HU26 hold their I/O count in D1148.
constexpr std::array<ModelInfo, 22> kModels{{
    {"RV7-KT5", 0x000C, 0x000C, S, false, kSelf, k2K, 128, false, 0x4135, 0, kV10},
    {"MN6", 0x000E, 0x000E, S, false, kSelf, k2K, 128, false, 0, 0, kV10},
    {"PB4", 0x000F, 0x000F, S, false, kSelf, k2K, 128, false, 0, 0, kV10},
    {"TQ3", 0x0013, 0x0013, S, false, kSelf, k2K, 128, false, 0, 0, kV10},
    {"RV7-G", 0x000C, 0x000C, S, false, kPower, k128K, 128, false, 0x4138, 0, kV10},
    {"HU", 0x0015, 0x0015, U, false, kPlug, k16K, 256, false, 0, 0, kV10},
    {"WD9", 0x0000, 0x0000, S, false, kSelf, k2K, 128, false, 0, 0, kV10},
    {"30KT5-AIO", 0x000D, 0x000D, S, true, kSelf, kFour, 256, false, 0, 0, kV10},
    {"PB", 0x0008, 0x0008, S, false, kSelf, k2K, 128, false, 0, 0, kV10},
    {"RV7-F", 0xA001, 0x2001, S, false, kSelf, k2K, 128, false, 0, 0, kV10},
    {"HU-N", 0xA002, 0xA002, U, false, kPlug, k16K, 256, false, 0, 0, kV10},
    {"TQ3-N", 0xA003, 0x2003, S, false, kSelf, k2K, 128, false, 0, 0, kV10},
    {"ZL600", 0x3000, 0x3000, U, false, kPlug, k4K, 256, true, 0, 0, kV10},
    {"RV-KT-WD8", 0x0003, 0x0003, S, false, kSelf, k2K, 128, false, 0, 0, kV10},
    {"KT5-VUP", 0xA006, 0x2006, S, false, kPower, k128K, 128, false, 0, 0, kV10},
    {"TQ38", 0x0013, 0x0013, S, false, kSelf, k128K, 128, false, 0, 28, kV10},
    {"RV7-J", 0x0017, 0x0017, S, false, kSelf, k128K, 128, false, 0, 0, kV10},
    {"ZL500", 0x3010, 0x3010, U, false, kPlug, k4K, 256, true, 0, 0, kV10},
    {"ZL500-AIO", 0x3010, 0x3010, U, true, kPlug, k2KUp, 256, false, 0, 0, kV10},
    {"HU26", 0x0015, 0x0015, U, false, kPlug, k128K, 128, false, 0, 26, kV10},
    {"RV6", 0x0020, 0x0020, U, false, kPlug, k4K, 256, true, 0, 0, kV10},
    {"FYB-W", 0xA00B, 0xA00B, U, false, kPlug, k4K, 256, true, 0, 0, kV10},
}};

uint32_t CeilDiv(uint32_t n, uint32_t d) {
    return n / d + (n % d != 0 ? 1 : 0);
}

uint32_t EraseSteps(EraseRule rule, uint32_t length) {
    switch (rule) {
        case EraseRule::kPer2KPlusOne:
            return length / 2048 + 1;
        case EraseRule::kPer16KPlusOne:
            return length / 16384 + 1;
        case EraseRule::kPer128KPlusOne:
            return length / 131072 + 1;
        case EraseRule::kPer4KBelowLast4K:
            // An image of 4 KiB or less leaves nothing to erase; it must not wrap.
            return length > 4096 ? CeilDiv(length - 4096, 4096) : 0;
        case EraseRule::kPer2KRoundedUp:
            return CeilDiv(length, 2048);
        case EraseRule::kFixedFour:
            return 4;
    }
    return 0;
}

}  // namespace

const std::array<ModelInfo, 22>& Models() {
    return kModels;
}

const ModelInfo* FindModel(std::string_view name) {
    for (const ModelInfo& m : kModels) {
        if (m.name == name) {
            return &m;
        }
    }
    return nullptr;
}

Geometry ExpectedGeometry(const ModelInfo& model, uint32_t imageLength) {
    Geometry g;
    if (model.skipsLast4K) {
        g.sentBytes = imageLength > 4096 ? imageLength - 4096 : 0;
    } else {
        g.sentBytes = imageLength;
    }
    g.blocks = CeilDiv(g.sentBytes, model.blockSize);
    g.eraseSteps = static_cast<uint16_t>(EraseSteps(model.erase, imageLength));
    return g;
}

}  // namespace fwburn::sim

// The model table: one row per model, every rule that differs by model.
#include "catalogue/catalogue.hpp"

namespace fwburn {

namespace {

constexpr LinkKind kSerial = LinkKind::Serial;
constexpr LinkKind kUsb = LinkKind::Usb;
constexpr uint8_t kCpuTarget = 0x59;
constexpr uint8_t kAnalogTarget = 0x5B;  // the analog-module models

constexpr char k240[] = "The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)";
constexpr char kFourBanks[] = "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 4)";
constexpr char kSevenBanks[] = "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 7)";
// The family was built with a 12 KiB image area; the message states that limit.
constexpr char k12K[] = "The file size EXCEEDS the MAXIMUM size (12 * 1024)";
constexpr char k40K[] = "The file size EXCEEDS the MAXIMUM size (40 * 1024)";
constexpr char k2028K[] = "The file size EXCEEDS the MAXIMUM size (2028 * 1024)";

constexpr char kKt5OrG[] = "Check PLC, RV7-KT5 is different than RV7-G";
constexpr char kTq3Is28[] = "Check PLC, 12TQ3 is different than 28TQ3";
constexpr char kTq38Is12[] = "Check PLC, 28TQ3 is different than 12TQ3";
constexpr char kHuIs26[] = "Check PLC, 12HU is different than 26HU";
constexpr char kHu26Is12[] = "Check PLC, 26HU is different than 12HU";

using R = ReconnectKind;
using V = VariantValue;
using B = BootIdMatch;
using E = EraseRule;
constexpr VariantRegister kNoReg = VariantRegister::None;
constexpr VariantRegister kD1386 = VariantRegister::D1386;
constexpr VariantRegister kD1148 = VariantRegister::D1148;

// A serial model that waits a second after the update request, with no variant or version check.
constexpr Model Plain(const char* name, uint16_t id) {
    return {name,
            id,
            0,
            kSerial,
            kCpuTarget,
            0x78000,
            k240,
            false,
            R::Wait,
            1,
            kNoReg,
            V::Any,
            nullptr,
            false,
            false,
            B::TopBitCleared,
            E::Per2048Plus1,
            128};
}

}  // namespace

// clang-format off
const Model kModels[kModelCount] = {
    // name, id, altId, link, target, limit, message, tail, reconnect, wait, register, value,
    // mismatch, version read, AIO bootloader, boot ID, erase, block
    {"RV7-KT5", 0x000C, 0x000D, kSerial, kCpuTarget, 0x78000, k240, false, R::Wait, 1, kD1386, V::NotG, kKt5OrG, false, false, B::IdOrAlt, E::Per2048Plus1, 128},
    Plain("MN6", 0x000E),
    Plain("PB4", 0x000F),
    {"TQ3", 0x0013, 0, kSerial, kCpuTarget, 0x78000, k240, false, R::Wait, 1, kD1148, V::Zero, kTq3Is28, false, false, B::TopBitCleared, E::Per2048Plus1, 128},
    {"RV7-G", 0x000C, 0x000D, kSerial, kCpuTarget, 0x80000, kFourBanks, false, R::PowerCycle, 2, kD1386, V::G, kKt5OrG, false, false, B::IdOrAlt, E::Per131072Plus1, 128},
    {"HU", 0x0015, 0, kUsb, kCpuTarget, 0x78000, k240, false, R::ReplugUsb, 2, kD1148, V::Zero, kHuIs26, false, false, B::Exact, E::Per16384Plus1, 256},
    Plain("WD9", 0x0000),
    {"30KT5-AIO", 0x000D, 0, kSerial, kAnalogTarget, 0x3000, k12K, false, R::Wait, 1, kNoReg, V::Any, nullptr, false, false, B::TopBitCleared, E::Four, 256},
    Plain("PB", 0x0008),
    Plain("RV7-F", 0xA001),
    {"HU-N", 0xA002, 0, kUsb, kCpuTarget, 0x78000, k240, false, R::ReplugUsb, 2, kNoReg, V::Any, nullptr, false, false, B::Exact, E::Per16384Plus1, 256},
    Plain("TQ3-N", 0xA003),
    {"ZL600", 0x3000, 0, kUsb, kCpuTarget, 0x1FB000, k2028K, true, R::ReplugUsb, 5, kNoReg, V::Any, nullptr, true, false, B::EitherZl, E::Per4096AfterTail, 256},
    Plain("RV-KT-WD8", 0x0003),
    {"KT5-VUP", 0xA006, 0, kSerial, kCpuTarget, 0x80000, kFourBanks, false, R::PowerCycle, 2, kNoReg, V::Any, nullptr, false, false, B::TopBitCleared, E::Per131072Plus1, 128},
    {"TQ38", 0x0013, 0, kSerial, kCpuTarget, 0x80000, kFourBanks, false, R::Wait, 1, kD1148, V::NonZero, kTq38Is12, false, false, B::TopBitCleared, E::Per131072Plus1, 128},
    {"RV7-J", 0x0017, 0, kSerial, kCpuTarget, 0xE0000, kSevenBanks, false, R::Wait, 1, kNoReg, V::Any, nullptr, false, false, B::TopBitCleared, E::Per131072Plus1, 128},
    {"ZL500", 0x3010, 0, kUsb, kCpuTarget, 0x1FB000, k2028K, true, R::ReplugUsb, 5, kNoReg, V::Any, nullptr, true, false, B::Exact, E::Per4096AfterTail, 256},
    {"ZL500-AIO", 0x3010, 0, kUsb, kAnalogTarget, 0xA000, k40K, false, R::ReplugUsb, 5, kNoReg, V::Any, nullptr, true, true, B::Exact, E::Per2048Up, 256},
    {"HU26", 0x0015, 0, kUsb, kCpuTarget, 0xE0000, kSevenBanks, false, R::ReplugUsb, 2, kD1148, V::NonZero, kHu26Is12, false, false, B::Exact, E::Per131072Plus1, 128},
    {"RV6", 0x0020, 0, kUsb, kCpuTarget, 0x1FB000, k2028K, true, R::ReplugUsb, 5, kNoReg, V::Any, nullptr, true, false, B::Exact, E::Per4096AfterTail, 256},
    {"FYB-W", 0xA00B, 0, kUsb, kCpuTarget, 0x1FB000, k2028K, true, R::ReplugUsb, 5, kNoReg, V::Any, nullptr, true, false, B::EitherZl, E::Per4096AfterTail, 256},
};
// clang-format on

}  // namespace fwburn

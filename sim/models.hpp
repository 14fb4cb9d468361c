// The controller side's own table of the 22 Korvan models: what each one reports and what it
// expects a correct host to send. Kept apart from the host's catalogue on purpose, so that a
// misreading of a rule is not mirrored on both sides of a test.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace fwburn::sim {

enum class LinkKind { kSerial, kUsb };

// How the controller reaches its bootloader once it has accepted an update request.
enum class Reconnect {
    kByItself,    // restarts into the bootloader on its own
    kReplug,      // the USB cable is replugged
    kPowerCycle,  // the controller is switched off and on; it does not answer the request
};

// How many "ERASE" steps an image of L bytes takes.
enum class EraseRule {
    kPer2KPlusOne,      // L / 2048 + 1
    kPer16KPlusOne,     // L / 16384 + 1
    kPer128KPlusOne,    // L / 131072 + 1
    kPer4KBelowLast4K,  // (L - 4096) / 4096, rounded up
    kPer2KRoundedUp,    // L / 2048, rounded up
    kFixedFour,         // 4 whatever L is
};

struct BootloaderVersion {
    uint8_t major = 1;
    uint8_t minor = 0;
};

struct ModelInfo {
    std::string_view name;
    uint16_t appId;   // model ID the application firmware reports
    uint16_t bootId;  // model ID the bootloader reports
    LinkKind link;
    bool analogModule;  // application requests carry target byte 0x5B instead of 0x59
    Reconnect reconnect;
    EraseRule erase;
    uint16_t blockSize;  // data bytes in one transfer block
    bool skipsLast4K;    // the image's last 4096 bytes are never transferred
    uint16_t d1386;      // variant registers as the application firmware holds them
    uint16_t d1148;
    BootloaderVersion version;
};

const std::array<ModelInfo, 22>& Models();
// nullptr when no model has exactly this name.
const ModelInfo* FindModel(std::string_view name);

// What a correct host sends for an image of a given length.
struct Geometry {
    uint32_t sentBytes = 0;   // image bytes carried by the blocks
    uint32_t blocks = 0;      // block frames
    uint16_t eraseSteps = 0;  // "ERASE" commands before the closing EOT
};
Geometry ExpectedGeometry(const ModelInfo& model, uint32_t imageLength);

}  // namespace fwburn::sim

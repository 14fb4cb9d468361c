#include "catalogue/catalogue.hpp"

#include <cstring>

namespace fwburn {

const char plcList[kModelCount][kModelNameSlot] = {
    "RV7-KT5", "MN6",   "PB4",       "TQ3",   "RV7-G", "HU",        "WD9",     "30KT5-AIO",
    "PB",      "RV7-F", "HU-N",      "TQ3-N", "ZL600", "RV-KT-WD8", "KT5-VUP", "TQ38",
    "RV7-J",   "ZL500", "ZL500-AIO", "HU26",  "RV6",   "FYB-W",
};

const uint16_t plcID[kModelCount] = {
    0x000C, 0x000E, 0x000F, 0x0013, 0x000C, 0x0015, 0x0000, 0x000D, 0x0008, 0xA001, 0xA002,
    0xA003, 0x3000, 0x0003, 0xA006, 0x0013, 0x0017, 0x3010, 0x3010, 0x0015, 0x0020, 0xA00B,
};

const char kImageMissingMessage[] = "The firmware image is MISSING or EMPTY";
const char kImageTooSmallMessage[] = "The file size is TOO SMALL (4 * 1024 or less)";
const char kReplugPrompt[] = "Please REPLUG the USB Cable, and then press OK to continue";
const char kPowerCyclePrompt[] = "Please POWER OFF=>ON the PLC, and then press OK to continue";

namespace {

// A name list ends with nullptr.
using NameList = const char* const*;

const char* const kUsbLinked[] = {"HU",   "HU-N", "ZL600", "ZL500", "ZL500-AIO",
                                  "HU26", "RV6",  "FYB-W", nullptr};
const char* const kAnalogModule[] = {"30KT5-AIO", "ZL500-AIO", nullptr};
const char* const kPowerCycle[] = {"RV7-G", "KT5-VUP", nullptr};
const char* const kWideBlock[] = {"HU",  "HU-N",  "ZL600",     "ZL500", "ZL500-AIO",
                                  "RV6", "FYB-W", "30KT5-AIO", nullptr};
// The models whose image ends in 4 KiB that is never erased nor sent.
const char* const kZlClass[] = {"ZL600", "ZL500", "RV6", "FYB-W", nullptr};
const char* const kHuClass[] = {"HU", "HU-N", nullptr};
const char* const kBigEraseSector[] = {"RV7-G", "KT5-VUP", "TQ38", "RV7-J", "HU26", nullptr};

bool Listed(const char* name, NameList list) {
    if (name == nullptr) {
        return false;
    }
    for (; *list != nullptr; ++list) {
        if (std::strcmp(name, *list) == 0) {
            return true;
        }
    }
    return false;
}

bool RowListed(int row, NameList list) {
    return Listed(ModelName(row), list);
}

bool RowIs(int row, const char* name) {
    return std::strcmp(ModelName(row), name) == 0;
}

uint32_t CeilDiv(uint32_t value, uint32_t divisor) {
    return value / divisor + (value % divisor != 0 ? 1 : 0);
}

}  // namespace

int FindModelRow(const char* name) {
    if (name == nullptr) {
        return -1;
    }
    for (int row = 0; row < kModelCount; ++row) {
        if (std::strcmp(plcList[row], name) == 0) {
            return row;
        }
    }
    return -1;
}

const char* ModelName(int row) {
    if (row < 0 || row >= kModelCount) {
        return "";
    }
    return plcList[row];
}

bool InFamily(const char* name, Family family) {
    switch (family) {
        case Family::UsbLinked:
            return Listed(name, kUsbLinked);
        case Family::AnalogModule:
            return Listed(name, kAnalogModule);
        case Family::PowerCycle:
            return Listed(name, kPowerCycle);
        case Family::WideBlock:
            return Listed(name, kWideBlock);
    }
    return false;
}

bool RowInFamily(int row, Family family) {
    return InFamily(ModelName(row), family);
}

bool IsVersionChecked(uint16_t selectedId) {
    return selectedId == 0x3000 || selectedId == 0x3010 || selectedId == 0x0020 ||
           selectedId == 0xA00B;
}

bool IsVariantPair(uint16_t selectedId) {
    return selectedId == 12 || selectedId == 19 || selectedId == 21;
}

uint8_t TargetByte(int row) {
    return RowInFamily(row, Family::AnalogModule) ? 0x5B : 0x59;
}

SizeLimit ImageSizeLimit(int row) {
    static const char* const kFourBanks[] = {"RV7-G", "KT5-VUP", "TQ38", nullptr};
    static const char* const kSevenBanks[] = {"RV7-J", "HU26", nullptr};
    if (RowListed(row, kFourBanks)) {
        return {0x80000, "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 4)"};
    }
    if (RowListed(row, kSevenBanks)) {
        return {0xE0000, "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 7)"};
    }
    if (RowIs(row, "30KT5-AIO")) {
        // The family was built with a 12 KiB image area; the message states that limit.
        return {0x3000, "The file size EXCEEDS the MAXIMUM size (12 * 1024)"};
    }
    if (RowIs(row, "ZL500-AIO")) {
        return {0xA000, "The file size EXCEEDS the MAXIMUM size (40 * 1024)"};
    }
    if (RowListed(row, kZlClass)) {
        return {0x1FB000, "The file size EXCEEDS the MAXIMUM size (2028 * 1024)"};
    }
    return {0x78000, "The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)"};
}

bool KeepsImageTail(int row) {
    return RowListed(row, kZlClass);
}

const char* ImageRefusal(int row, uint32_t length) {
    if (length == 0) {
        return kImageMissingMessage;
    }
    const SizeLimit limit = ImageSizeLimit(row);
    if (length > limit.limit) {
        return limit.message;
    }
    // Erase and block counts of these models subtract the 4 KiB tail; a shorter image would wrap.
    if (KeepsImageTail(row) && length <= kZlReservedTail) {
        return kImageTooSmallMessage;
    }
    return nullptr;
}

bool AppIdAccepted(uint16_t selectedId, uint16_t replyId) {
    if (selectedId == 12) {
        return replyId == 12 || replyId == 13;
    }
    return replyId == selectedId;
}

VariantRegister VariantRegisterFor(uint16_t selectedId) {
    if (selectedId == 12) {
        return VariantRegister::D1386;
    }
    if (selectedId == 19 || selectedId == 21) {
        return VariantRegister::D1148;
    }
    return VariantRegister::None;
}

const char* VariantMismatch(int row, uint16_t selectedId, uint16_t registerValue) {
    switch (selectedId) {
        case 12: {
            const bool gConnected = registerValue == 0x4138 || registerValue == 0x4137;
            const bool match = gConnected ? RowIs(row, "RV7-G") : RowIs(row, "RV7-KT5");
            return match ? nullptr : "Check PLC, RV7-KT5 is different than RV7-G";
        }
        case 19:
            if (registerValue != 0) {
                return RowIs(row, "TQ38") ? nullptr : "Check PLC, 12TQ3 is different than 28TQ3";
            }
            return RowIs(row, "TQ3") ? nullptr : "Check PLC, 28TQ3 is different than 12TQ3";
        case 21:
            if (registerValue != 0) {
                return RowIs(row, "HU26") ? nullptr : "Check PLC, 12HU is different than 26HU";
            }
            return RowIs(row, "HU") ? nullptr : "Check PLC, 26HU is different than 12HU";
        default:
            return nullptr;
    }
}

const char* VersionRefusal(int row, uint8_t version) {
    if (!RowIs(row, "ZL500-AIO") || version == kAioBootloaderVersion) {
        return nullptr;
    }
    if (version == 0x09) {
        return "The bootloader version is V0.9, do not support AIO FW update";
    }
    return "The bootloader version is unknown, do not support AIO FW update";
}

bool AcceptsSilentUpdateRequest(int row) {
    return RowInFamily(row, Family::PowerCycle);
}

Reconnect ReconnectFor(int row) {
    if (RowListed(row, kHuClass) || RowIs(row, "HU26")) {
        return {ReconnectKind::ReplugUsb, kReplugPrompt, 2};
    }
    if (RowListed(row, kZlClass) || RowIs(row, "ZL500-AIO")) {
        return {ReconnectKind::ReplugUsb, kReplugPrompt, 5};
    }
    if (RowInFamily(row, Family::PowerCycle)) {
        return {ReconnectKind::PowerCycle, kPowerCyclePrompt, 2};
    }
    return {ReconnectKind::Wait, nullptr, 1};
}

bool BootIdAccepted(BootIdRule rule, int row, uint16_t selectedId, uint16_t replyId) {
    if (rule == BootIdRule::Cpu) {
        static const char* const kExact[] = {"HU",   "HU-N", "ZL500", "ZL500-AIO",
                                             "HU26", "RV6",  nullptr};
        static const char* const kEitherZl[] = {"ZL600", "FYB-W", nullptr};
        if (RowListed(row, kExact)) {
            return replyId == selectedId;
        }
        if (RowListed(row, kEitherZl)) {
            return replyId == 0x3000 || replyId == 0xA00B;
        }
    } else if (RowInFamily(row, Family::UsbLinked)) {
        return replyId == selectedId;
    }
    if (selectedId == 0x000C) {
        return replyId == 0x000C || replyId == 0x000D;
    }
    // The bootloaders of the serial models report their ID without its top bit.
    return replyId == (selectedId & 0x7FFF);
}

uint16_t EraseCount(int row, uint32_t length) {
    uint32_t count;
    if (RowListed(row, kBigEraseSector)) {
        count = length / 131072 + 1;
    } else if (RowListed(row, kHuClass)) {
        count = length / 16384 + 1;
    } else if (RowListed(row, kZlClass)) {
        count = length > kZlReservedTail ? CeilDiv(length - kZlReservedTail, 4096) : 0;
    } else if (RowIs(row, "ZL500-AIO")) {
        count = CeilDiv(length, 2048);
    } else if (RowIs(row, "30KT5-AIO")) {
        count = 4;
    } else {
        count = length / 2048 + 1;
    }
    return static_cast<uint16_t>(count);
}

TransferGeometry TransferGeometryFor(int row, uint32_t length) {
    static const char* const kWholeImageWide[] = {"HU", "HU-N", "ZL500-AIO", "30KT5-AIO", nullptr};
    uint32_t blockSize = 128;
    uint32_t bytesSent = length;
    if (RowListed(row, kWholeImageWide)) {
        blockSize = 256;
    } else if (RowListed(row, kZlClass)) {
        blockSize = 256;
        bytesSent = length > kZlReservedTail ? length - kZlReservedTail : 0;
    }
    return {blockSize, blockSize + 5, CeilDiv(bytesSent, blockSize), bytesSent};
}

Outcome SuccessOutcome(int row) {
    if (RowInFamily(row, Family::UsbLinked)) {
        return {"Information", "Firmware update is SUCCESSFUL!, please REPLUG the USB cable"};
    }
    return {"INFORMATION", "Firmware update is SUCCESSFUL"};
}

}  // namespace fwburn

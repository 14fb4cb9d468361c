// The per-model rules, each a small function of a row of the model table.
#include "catalogue/catalogue.hpp"

#include <cstring>

namespace fwburn {

const char kImageMissingMessage[] = "The firmware image is MISSING or EMPTY";
const char kImageTooSmallMessage[] = "The file size is TOO SMALL (4 * 1024 or less)";
const char kReplugPrompt[] = "Please REPLUG the USB Cable, and then press OK to continue";
const char kPowerCyclePrompt[] = "Please POWER OFF=>ON the PLC, and then press OK to continue";

namespace {

// What a row outside the catalogue gets: it names nothing and accepts nothing.
constexpr Model kNoModel{"",
                         0,
                         0,
                         LinkKind::Serial,
                         0x59,
                         0,
                         "",
                         false,
                         ReconnectKind::Wait,
                         1,
                         VariantRegister::None,
                         VariantValue::Any,
                         nullptr,
                         false,
                         false,
                         BootIdMatch::Exact,
                         EraseRule::Per2048Plus1,
                         128};

bool InCatalogue(int row) {
    return row >= 0 && row < kModelCount;
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
        if (std::strcmp(kModels[row].name, name) == 0) {
            return row;
        }
    }
    return -1;
}

const Model& ModelAt(int row) {
    return InCatalogue(row) ? kModels[row] : kNoModel;
}

const char* ModelName(int row) {
    return ModelAt(row).name;
}

uint16_t ModelId(int row) {
    return ModelAt(row).id;
}

bool IsUsbLinked(int row) {
    return InCatalogue(row) && kModels[row].link == LinkKind::Usb;
}

uint8_t TargetByte(int row) {
    return ModelAt(row).targetByte;
}

SizeLimit ImageSizeLimit(int row) {
    // Outside the catalogue the serial models' common limit applies, as it always did.
    const Model& m = InCatalogue(row) ? kModels[row] : kModels[1];
    return {m.sizeLimit, m.sizeMessage};
}

bool KeepsImageTail(int row) {
    return ModelAt(row).keepsImageTail;
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

bool AppIdAccepted(int row, uint16_t replyId) {
    const Model& m = ModelAt(row);
    return InCatalogue(row) && (replyId == m.id || (m.altId != 0 && replyId == m.altId));
}

VariantRegister VariantRegisterFor(int row) {
    return ModelAt(row).variantRegister;
}

const char* VariantMismatch(int row, uint16_t registerValue) {
    const Model& m = ModelAt(row);
    bool match = true;
    switch (m.variantValue) {
        case VariantValue::Any:
            break;
        case VariantValue::G:
        case VariantValue::NotG: {
            const bool g = registerValue == 0x4138 || registerValue == 0x4137;
            match = g == (m.variantValue == VariantValue::G);
            break;
        }
        case VariantValue::Zero:
            match = registerValue == 0;
            break;
        case VariantValue::NonZero:
            match = registerValue != 0;
            break;
    }
    return match ? nullptr : m.variantMismatch;
}

bool ReadsBootloaderVersion(int row) {
    return ModelAt(row).readsBootloaderVersion;
}

const char* VersionRefusal(int row, uint8_t version) {
    if (!ModelAt(row).needsAioBootloader || version == kAioBootloaderVersion) {
        return nullptr;
    }
    if (version == 0x09) {
        return "The bootloader version is V0.9, do not support AIO FW update";
    }
    return "The bootloader version is unknown, do not support AIO FW update";
}

bool AcceptsSilentUpdateRequest(int row) {
    return InCatalogue(row) && kModels[row].reconnect == ReconnectKind::PowerCycle;
}

Reconnect ReconnectFor(int row) {
    const Model& m = ModelAt(row);
    switch (m.reconnect) {
        case ReconnectKind::ReplugUsb:
            return {m.reconnect, kReplugPrompt, m.reconnectWaitSeconds};
        case ReconnectKind::PowerCycle:
            return {m.reconnect, kPowerCyclePrompt, m.reconnectWaitSeconds};
        case ReconnectKind::Wait:
            break;
    }
    return {ReconnectKind::Wait, nullptr, m.reconnectWaitSeconds};
}

bool BootIdAccepted(BootIdRule rule, int row, uint16_t replyId) {
    if (!InCatalogue(row)) {
        return false;
    }
    const Model& m = kModels[row];
    // The AIO program asks every USB model for its exact ID.
    const BootIdMatch match =
        rule == BootIdRule::Aio && m.link == LinkKind::Usb ? BootIdMatch::Exact : m.bootId;
    switch (match) {
        case BootIdMatch::Exact:
            return replyId == m.id;
        case BootIdMatch::EitherZl:
            return replyId == 0x3000 || replyId == 0xA00B;
        case BootIdMatch::IdOrAlt:
            return replyId == m.id || (m.altId != 0 && replyId == m.altId);
        case BootIdMatch::TopBitCleared:
            break;
    }
    return replyId == (m.id & 0x7FFF);
}

uint16_t EraseCount(int row, uint32_t length) {
    uint32_t count = 0;
    switch (ModelAt(row).erase) {
        case EraseRule::Per2048Plus1:
            count = length / 2048 + 1;
            break;
        case EraseRule::Per131072Plus1:
            count = length / 131072 + 1;
            break;
        case EraseRule::Per16384Plus1:
            count = length / 16384 + 1;
            break;
        case EraseRule::Per4096AfterTail:
            count = length > kZlReservedTail ? CeilDiv(length - kZlReservedTail, 4096) : 0;
            break;
        case EraseRule::Per2048Up:
            count = CeilDiv(length, 2048);
            break;
        case EraseRule::Four:
            count = 4;
            break;
    }
    return static_cast<uint16_t>(count);
}

TransferGeometry TransferGeometryFor(int row, uint32_t length) {
    const Model& m = ModelAt(row);
    const uint32_t blockSize = m.blockSize;
    uint32_t bytesSent = length;
    if (m.keepsImageTail) {
        bytesSent = length > kZlReservedTail ? length - kZlReservedTail : 0;
    }
    return {blockSize, blockSize + 5, CeilDiv(bytesSent, blockSize), bytesSent};
}

Outcome SuccessOutcome(int row) {
    if (IsUsbLinked(row)) {
        return {"Information", "Firmware update is SUCCESSFUL!, please REPLUG the USB cable"};
    }
    return {"INFORMATION", "Firmware update is SUCCESSFUL"};
}

}  // namespace fwburn

// The 22 controller models this updater knows, their families, and every rule that differs by
// model. Rows are fixed at build time; a row, not an ID, identifies a model (IDs repeat).
#pragma once

#include <cstdint>

namespace fwburn {

constexpr int kModelCount = 22;
constexpr int kModelNameSlot = 15;  // 14 characters and the terminating zero

extern const char plcList[kModelCount][kModelNameSlot];
extern const uint16_t plcID[kModelCount];

// Row whose name equals `name` exactly (case-sensitive, whole text); -1 when there is none.
int FindModelRow(const char* name);

// Name of a row; the empty text for a row outside the catalogue.
const char* ModelName(int row);

// Model families. Name families compare the whole name exactly; "HU" is not "HU-N".
enum class Family {
    UsbLinked,
    AnalogModule,
    PowerCycle,
    WideBlock,
};
bool InFamily(const char* name, Family family);
bool RowInFamily(int row, Family family);

// Families decided by the selected model ID rather than by name.
bool IsVersionChecked(uint16_t selectedId);
bool IsVariantPair(uint16_t selectedId);

// Target byte of the mode query, model-ID query, update request and its acknowledgement.
uint8_t TargetByte(int row);

// Image size limits, and the refusals made before the port opens.
struct SizeLimit {
    uint32_t limit;       // largest accepted image, bytes
    const char* message;  // shown when the image is longer
};
SizeLimit ImageSizeLimit(int row);
constexpr uint32_t kZlReservedTail = 4096;  // the ZL-class models never receive the last 4 KiB
extern const char kImageMissingMessage[];
extern const char kImageTooSmallMessage[];
// The message that refuses an image of `length` bytes for `row`, or nullptr when it may be sent.
const char* ImageRefusal(int row, uint32_t length);
// ZL600, ZL500, RV6, FYB-W: the models whose last 4 KiB of image stay on the workstation.
bool KeepsImageTail(int row);

// Model-ID acceptance in application mode.
bool AppIdAccepted(uint16_t selectedId, uint16_t replyId);

// Variant check after the application-mode ID check.
enum class VariantRegister { None, D1386, D1148 };
VariantRegister VariantRegisterFor(uint16_t selectedId);
// The mismatch message for the selected model and the register value read, or nullptr when the
// connected variant is the selected one. A read that got no acceptable reply gives 0 too: only the
// worker knows that it confirms nothing.
const char* VariantMismatch(int row, uint16_t selectedId, uint16_t registerValue);

// Bootloader version judgement (ZL500-AIO only); nullptr when the version passes.
constexpr uint8_t kAioBootloaderVersion = 0x10;
const char* VersionRefusal(int row, uint8_t version);

// The power-cycle models answer nothing once they accept the update request.
bool AcceptsSilentUpdateRequest(int row);

// What follows an accepted update request.
enum class ReconnectKind { Wait, ReplugUsb, PowerCycle };
struct Reconnect {
    ReconnectKind kind;
    const char* prompt;  // nullptr for Wait
    int waitSeconds;
};
Reconnect ReconnectFor(int row);
extern const char kReplugPrompt[];
extern const char kPowerCyclePrompt[];

// Model-ID acceptance in boot mode. The rule belongs to the build profile.
enum class BootIdRule { Cpu, Aio };
bool BootIdAccepted(BootIdRule rule, int row, uint16_t selectedId, uint16_t replyId);

// Number of "ERASE" steps for an image of `length` bytes.
uint16_t EraseCount(int row, uint32_t length);

// Block transfer geometry for an image of `length` bytes.
struct TransferGeometry {
    uint32_t blockSize;    // data bytes per block: 256 or 128
    uint32_t frameLength;  // blockSize + 5
    uint32_t blockCount;
    uint32_t bytesSent;  // image bytes that go out; the rest of the last block is fill
};
TransferGeometry TransferGeometryFor(int row, uint32_t length);

// Wording of a successful update.
struct Outcome {
    const char* caption;
    const char* text;
};
Outcome SuccessOutcome(int row);

}  // namespace fwburn

// The 22 controller models this updater knows: one row per model holding every rule that differs
// by model, and the rules as small functions of a row. Rows are fixed at build time; a row, not an
// ID, identifies a model (IDs repeat: the RV7-KT5/RV7-G, TQ3/TQ38, HU/HU26 pairs and
// ZL500/ZL500-AIO share theirs).
#pragma once

#include <cstdint>

namespace fwburn {

constexpr int kModelCount = 22;
constexpr int kModelNameSlot = 15;  // 14 characters and the terminating zero

enum class LinkKind { Serial, Usb };

// What follows an accepted update request.
enum class ReconnectKind { Wait, ReplugUsb, PowerCycle };

// The register that tells the two variants of a shared ID apart, and what it reads on the
// variant a row stands for.
enum class VariantRegister { None, D1386, D1148 };
enum class VariantValue {
    Any,      // no variant check
    G,        // 0x4137 or 0x4138: the RV7-G
    NotG,     // anything else
    Zero,     // TQ3, HU
    NonZero,  // TQ38, HU26
};

// The bootloader's ID reply that a row accepts (the rule of the CPU program; the AIO program
// asks every USB model for its exact ID).
enum class BootIdMatch {
    Exact,          // the row's ID
    EitherZl,       // 0x3000 or 0xA00B: the ZL600 and FYB-W bootloaders answer either
    IdOrAlt,        // the row's ID or its alternative ID
    TopBitCleared,  // the serial bootloaders report their ID without its top bit
};

// Number of "ERASE" steps for an image of `length` bytes.
enum class EraseRule {
    Per2048Plus1,      // length / 2048 + 1
    Per131072Plus1,    // length / 131072 + 1: the big-sector models
    Per16384Plus1,     // length / 16384 + 1: HU, HU-N
    Per4096AfterTail,  // ceil((length - 4 KiB) / 4096): the ZL class keeps its last 4 KiB
    Per2048Up,         // ceil(length / 2048)
    Four,              // always 4
};

struct Model {
    const char* name;
    uint16_t id;     // what the model-ID query answers
    uint16_t altId;  // a second ID the application and bootloader may answer with; 0 for none
    LinkKind link;
    uint8_t targetByte;  // of the mode query, model-ID query, update request and its ack
    uint32_t sizeLimit;  // largest accepted image, bytes
    const char* sizeMessage;
    bool keepsImageTail;  // the last 4 KiB of the image are never erased nor sent
    ReconnectKind reconnect;
    int reconnectWaitSeconds;
    VariantRegister variantRegister;
    VariantValue variantValue;
    const char* variantMismatch;  // shown when the register says the other variant
    bool readsBootloaderVersion;
    bool needsAioBootloader;  // refuses every bootloader version but 1.0
    BootIdMatch bootId;
    EraseRule erase;
    uint32_t blockSize;  // data bytes per transfer block
};

extern const Model kModels[kModelCount];

// Row whose name equals `name` exactly (case-sensitive, whole text); -1 when there is none.
int FindModelRow(const char* name);
// Name and ID of a row; the empty text and 0 for a row outside the catalogue.
const char* ModelName(int row);
uint16_t ModelId(int row);
// The row's rules; a row outside the catalogue gets an empty model that matches nothing.
const Model& ModelAt(int row);

bool IsUsbLinked(int row);
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
bool KeepsImageTail(int row);

// Model-ID acceptance in application mode.
bool AppIdAccepted(int row, uint16_t replyId);

// Variant check after the application-mode ID check.
VariantRegister VariantRegisterFor(int row);
// The mismatch message for the register value read, or nullptr when the connected variant is the
// row's. A read that got no acceptable reply gives 0 too: only the worker knows that it confirms
// nothing.
const char* VariantMismatch(int row, uint16_t registerValue);

// Bootloader version: read on the ZL-class models, judged on the ZL500-AIO only.
bool ReadsBootloaderVersion(int row);
constexpr uint8_t kAioBootloaderVersion = 0x10;
// nullptr when the version passes.
const char* VersionRefusal(int row, uint8_t version);

// The power-cycle models answer nothing once they accept the update request.
bool AcceptsSilentUpdateRequest(int row);

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
bool BootIdAccepted(BootIdRule rule, int row, uint16_t replyId);

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

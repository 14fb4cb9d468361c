// How a simulated controller is set up: the model, the image length a correct host will send,
// the injected faults and the controller's own timing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/models.hpp"

namespace fwburn::sim {

// The exchanges whose replies a fault can change.
enum class Phase {
    kWake,           // ":007F81"
    kModeQuery,      // mode query in application mode
    kIdQuery,        // model-ID query in application mode
    kRegisterRead,   // D1386 and D1148
    kVersionQuery,   // bootloader version asked in application mode
    kUpdateRequest,  // the "ERASE" request in application mode
    kBootModeQuery,  // mode query answered by the bootloader
    kBootId,         // "ID"
    kBootVersion,    // "VERSION"
    kEraseStep,      // "ERASE"
    kEraseEnd,       // EOT closing the erase
    kUpdate,         // "UPDATE"
    kBlock,          // a block frame
    kTransferEnd,    // EOT closing the transfer
    kCount
};
const char* PhaseName(Phase phase);
// Application-mode phases answer in ASCII frames; the others with raw bytes.
bool IsAsciiPhase(Phase phase);

enum class FaultKind {
    kSilence,     // no reply
    kShort,       // the reply without its last byte
    kBadLrc,      // ASCII: LRC off by one
    kLowerCase,   // ASCII: hex digits in lower case
    kErrorReply,  // ASCII: status NAK with an error class and state
    kNak,         // raw: 0x15 in place of ACK
    kGarbage,     // bytes that are no reply at all ('~')
    kLate,        // the right reply, `delayMs` later than usual
};

constexpr int kForever = -1;

// Changes the replies of one phase. The first matching fault in the list applies.
// `skip` requests of the phase are answered normally first, then `times` of them get the fault.
// For kBlock the count is of blocks, not frames: the fault hits block number skip + 1 of the
// image (counting from 1, before any wrap) and `times` counts its sends, resends included.
// Only kLate, kBadLrc and kLowerCase leave the request taken (the reply was damaged on the way);
// with every other kind the controller acts as if the request never came.
struct ReplyFault {
    Phase phase = Phase::kModeQuery;
    FaultKind kind = FaultKind::kSilence;
    int skip = 0;
    int times = kForever;
    uint8_t errorClass = 0;  // kErrorReply
    uint8_t errorState = 0;  // kErrorReply
    int64_t delayMs = 3500;  // kLate: past the host's 3000 ms read time-out
};

struct Faults {
    std::vector<ReplyFault> replies{};
    bool silent = false;               // never answers anything
    bool runMode = false;              // refuses mode, ID and update requests with error class 1
    std::optional<uint16_t> appId{};   // model ID reported in application mode
    std::optional<uint16_t> bootId{};  // model ID reported by the bootloader
    std::optional<uint16_t> d1386{};
    std::optional<uint16_t> d1148{};
    std::optional<BootloaderVersion> version{};
    uint32_t linkLossAfterBlock = 0;      // the link dies when this block arrives (its ACK is lost)
    uint32_t linkLossAfterEraseStep = 0;  // the same for this "ERASE" of an erase phase
    int linkLossTimes = kForever;         // how often the link dies so; then never again
    bool stayInApplication = false;       // every restart after an accepted update comes back in
                                          // the application
    bool bootAtPowerOn = false;           // starts (and restarts) in the bootloader
};

struct Timing {
    int64_t replyMs = 5;                // turn-around of every reply
    int64_t eraseStepMs = 20;           // added to the reply of one "ERASE"
    int64_t blockWriteMs = 5;           // added to the reply of a block
    int64_t bootEntryMs = 500;          // restart into the bootloader, for models that do it alone
    int64_t interByteTimeoutMs = 1000;  // a longer pause drops a half-received frame or command
};

// What the controller checks of the line settings a serial host uses.
enum class LineCheck {
    kFull,      // baud, data bits, parity, stop bits, and DTR and RTS control off
    kBaudOnly,  // a pseudo-terminal shows no framing
    kOff,
};

struct Config {
    std::string model;         // one of the 22 names, exactly
    uint32_t imageLength = 0;  // length of the image the host is expected to send
    Faults faults;
    Timing timing;
    LineCheck lineCheck = LineCheck::kFull;
};

}  // namespace fwburn::sim

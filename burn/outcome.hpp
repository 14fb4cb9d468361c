// How one update ended, typed for the front ends: what kind of ending, the message exactly as the
// window shows it, and whether the controller's flash was touched.
#pragma once

#include <cstddef>
#include <cstdint>

#include "burn/diagnosis.hpp"

namespace fwburn {

enum class MessageIcon { Error, Information };

enum class OutcomeKind {
    Success,
    ImageRefused,         // refused before the port was opened: missing, size, corrupted, stand-in
    PortNotOpened,        // the port or the USB device could not be opened
    ControllerRefused,    // wrong model or variant, refused bootloader, run mode
    CommunicationFailed,  // no or bad answers before the erase began
    FailedAfterErase,     // the erase began: the controller needs a complete update
    Cancelled,            // a reconnect prompt or wait was cancelled: no message, nothing erased
};

struct UpdateOutcome {
    static constexpr size_t kTextSize = 128;

    OutcomeKind kind = OutcomeKind::Cancelled;
    const char* caption = "";  // empty for a cancelled update: no message was shown
    char text[kTextSize] = {};
    MessageIcon icon = MessageIcon::Error;
    bool erased = false;  // an erase was asked of the controller
    Diagnosis diagnosis;  // what the worker saw of a failure before the erase, if anything
    // Bytes beyond one reply per request during the image transfer: late or doubled replies that
    // were dropped, or caught after the last block. 0 on a clean line.
    uint32_t surplusBytes = 0;

    bool shown() const { return kind != OutcomeKind::Cancelled; }
};

// One word per kind: "success", "image-refused", ... (logs, JSON).
const char* OutcomeName(OutcomeKind kind);

}  // namespace fwburn

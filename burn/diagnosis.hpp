// What the worker saw when an update ended before the erase for want of a good answer: the ID a
// controller of another model gave, how silent the port was, or that it could not be reopened. The
// final message stays the window's; a front end adds this where it has room to explain.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fwburn {

enum class Finding {
    None,
    WrongModel,    // a valid reply carried the ID of another model (`id`; `bootloader` says whose)
    NoBytes,       // not one byte came back in the whole update
    OnlyEarlier,   // earlier requests were answered (the wake-up at least), the failing one never
    NoValidReply,  // bytes came back to the failing request, none of them a valid reply
    NotReopened,   // the port could not be opened again after the controller accepted the update
                   // request (the front end knows why)
    SilentSinceReopen,  // answers came before the port was reopened, not one byte since
};

struct Diagnosis {
    static constexpr size_t kSampleSize = 24;

    Finding finding = Finding::None;
    bool bootloader = false;  // the ID came from the bootloader, not the application
    uint16_t id = 0;
    uint32_t bytesReceived = 0;  // in the whole update, on every port it opened
    // A silence came after the PLC had answered this model's ID: it is no controller of another
    // model, whatever it did next.
    bool modelConfirmed = false;
    // The first bytes of the last read that brought any.
    uint8_t sample[kSampleSize] = {};
    uint8_t sampleLength = 0;
};

// The catalogue's names for an application-mode model ID answered to `targetByte` (IDs repeat:
// "RV7-KT5 or RV7-G"), written into `out`; the empty text when no model has that ID.
void ModelNamesForId(uint16_t id, uint8_t targetByte, char* out, size_t size);

}  // namespace fwburn

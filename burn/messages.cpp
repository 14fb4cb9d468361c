#include "burn/messages.hpp"

#include <cstdio>
#include <cstring>

namespace fwburn {

const char kErrorCaption[] = "ERROR";
const char kInformationCaption[] = "Information";
const char kImageCorruptedMessage[] = "The firmware image is CORRUPTED";
const char kStandInRefusedMessage[] =
    "TEST BUILD: the built-in image is a STAND-IN, not a firmware; NOTHING was written";
const char kStandInCaption[] = "TEST BUILD: STAND-IN IMAGE";
const char kStandInQuestion[] =
    "This program was built without a real firmware image. Its built-in image is a STAND-IN of "
    "random bytes, not a firmware: written into a PLC it makes the PLC unusable until a real "
    "firmware is written.\n\nUse it only with a simulated or test controller. Go on?";
const char kBootIdWrongMessage[] = "PLC type is WRONG";
const char kVersionReadFailedMessage[] = "PLC DOES NOT respond to the version read";
const char kVariantReadFailedMessage[] = "PLC DOES NOT respond to the variant read";
const char kEraseFailedMessage[] = "PLC DOES NOT respond to the erasing signal";
const char kUpdateSignalFailedMessage[] = "PLC DOES NOT respond to the update signal";
const char kTransferFailedMessage[] = "Firmware update is FAILED";

const char* ModeQueryFailureMessage(uint8_t result) {
    switch (result & 0x0F) {
        case 1:
            return "FLOW ERROR @ State 1";
        case 2:
            return "FLOW ERROR @ State 2";
        case 5:
            return "PLC type is WRONG";
        case 6:
            return "PLC in RUN MODE";
        case 7:
            return "UNKNOWN ERROR CODE @ State 1";
        case 8:
            return "NO RESPONSE @ State 1";
        default:
            return "UNKNOWN MESSAGE";
    }
}

const char* ModelIdFailureMessage(uint8_t result) {
    switch (result & 0x0F) {
        case 2:
            return "FLOW ERROR @ State 2";
        case 3:
            return "FLOW ERROR @ State 3";
        case 5:
            return "PLC type is WRONG";
        case 7:
            return "UNKNOWN ERROR CODE @ State 2";
        case 8:
            return "NO RESPONSE @ State 2";
        default:
            return "UNKNOWN MESSAGE @ State 2";
    }
}

const char* UpdateRequestFailureMessage(uint8_t result) {
    switch (result & 0x0F) {
        case 3:
            return "FLOW ERROR @ State 3";
        case 4:
            return "FLOW ERROR @ State 4";
        case 5:
            return "PLC type is WRONG";
        case 7:
            return "UNKNOWN ERROR CODE @ State 3";
        case 8:
            return "NO RESPONSE @ State 3";
        default:
            return "UNKNOWN MESSAGE @ State 3";
    }
}

namespace {

// Low four bits 5: an error reply of class 2 in a state the command does not name, which the
// messages call a wrong model.
constexpr uint8_t kWrongTypeLow = 5;
constexpr uint8_t kRunModeLow = 6;

OutcomeKind RefusedWhen(bool refused) {
    return refused ? OutcomeKind::ControllerRefused : OutcomeKind::CommunicationFailed;
}

}  // namespace

OutcomeKind ModeQueryFailureKind(uint8_t result) {
    const uint8_t low = result & 0x0F;
    return RefusedWhen(low == kWrongTypeLow || low == kRunModeLow);
}

OutcomeKind ModelIdFailureKind(uint8_t result) {
    return RefusedWhen((result & 0x0F) == kWrongTypeLow);
}

OutcomeKind UpdateRequestFailureKind(uint8_t result) {
    return RefusedWhen((result & 0x0F) == kWrongTypeLow);
}

void OpenFailureText(const char* portName, char (&out)[30]) {
    std::memset(out, 0, sizeof out);
    // The port name is at most 9 characters: the text always fits its 30-character field.
    std::snprintf(out, sizeof out, "CANNOT open %.9s Port!!!", portName != nullptr ? portName : "");
}

}  // namespace fwburn

// The texts of the burn worker's messages.
#pragma once

#include <cstdint>

#include "burn/outcome.hpp"

namespace fwburn {

extern const char kErrorCaption[];           // "ERROR"
extern const char kInformationCaption[];     // "Information": prompts, USB success
extern const char kImageCorruptedMessage[];  // the image does not match its build-time digest
// A stand-in image without the operator's yes: refused before the port opens.
extern const char kStandInRefusedMessage[];
// What the window asks (Yes/No, default No) before it lets a stand-in build start an update.
extern const char kStandInCaption[];
extern const char kStandInQuestion[];

// Mode query failed: by the low four bits of ConfirmComm's result.
const char* ModeQueryFailureMessage(uint8_t result);
// Model-ID check failed in application mode (CheckID_A).
const char* ModelIdFailureMessage(uint8_t result);
// Update request failed (SendErase_A).
const char* UpdateRequestFailureMessage(uint8_t result);
// What each of those failures is: the controller refused ("PLC type is WRONG", "PLC in RUN
// MODE"), or the communication failed.
OutcomeKind ModeQueryFailureKind(uint8_t result);
OutcomeKind ModelIdFailureKind(uint8_t result);
OutcomeKind UpdateRequestFailureKind(uint8_t result);

extern const char kBootIdWrongMessage[];
extern const char kVersionReadFailedMessage[];
// RV7-KT5, TQ3 or HU selected and the variant register read that should confirm it got no
// acceptable reply: the update ends before the update request.
extern const char kVariantReadFailedMessage[];
extern const char kEraseFailedMessage[];
extern const char kUpdateSignalFailedMessage[];
extern const char kTransferFailedMessage[];

// "CANNOT open " + name + " Port!!!", into a 30-character zero-filled field.
void OpenFailureText(const char* portName, char (&out)[30]);

}  // namespace fwburn

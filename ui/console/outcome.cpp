#include "ui/console/outcome.hpp"

#include <cstring>

#include "burn/messages.hpp"
#include "catalogue/catalogue.hpp"

namespace fwburn::console {

namespace {

bool Same(const char* a, const char* b) {
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

bool IsSuccess(const char* text) {
    for (int row = 0; row < kModelCount; ++row) {
        if (Same(text, SuccessOutcome(row).text)) {
            return true;
        }
    }
    return false;
}

bool IsImageRefusal(const char* text) {
    for (int row = 0; row < kModelCount; ++row) {
        if (Same(text, ImageSizeLimit(row).message)) {
            return true;
        }
    }
    return Same(text, kImageMissingMessage) || Same(text, kImageTooSmallMessage) ||
           Same(text, kImageCorruptedMessage) || Same(text, kStandInRefusedMessage);
}

bool IsOpenFailure(const char* text) {
    static const char kPrefix[] = "CANNOT open ";
    static const char kSuffix[] = " Port!!!";
    const size_t length = std::strlen(text);
    return length >= sizeof kPrefix - 1 + sizeof kSuffix - 1 &&
           std::strncmp(text, kPrefix, sizeof kPrefix - 1) == 0 &&
           std::strcmp(text + length - (sizeof kSuffix - 1), kSuffix) == 0;
}

// The variant-check messages come out of the catalogue only for a mismatch: ask it with register
// values that stand for each variant.
bool IsVariantMismatch(const char* text) {
    static const uint16_t kValues[] = {0, 1, 0x4137, 0x4138};
    for (int row = 0; row < kModelCount; ++row) {
        if (!IsVariantPair(plcID[row])) {
            continue;
        }
        for (uint16_t value : kValues) {
            if (Same(text, VariantMismatch(row, plcID[row], value))) {
                return true;
            }
        }
    }
    return false;
}

bool IsVersionRefusal(const char* text) {
    for (int row = 0; row < kModelCount; ++row) {
        if (Same(text, VersionRefusal(row, 0x09)) || Same(text, VersionRefusal(row, 0x00))) {
            return true;
        }
    }
    return false;
}

bool IsControllerRefusal(const char* text) {
    return Same(text, kBootIdWrongMessage) || Same(text, ModeQueryFailureMessage(6)) ||
           IsVariantMismatch(text) || IsVersionRefusal(text);
}

// Everything the three application-mode tables can say, and the bootloader's version read. The
// refusals among them ("PLC type is WRONG", "PLC in RUN MODE") are taken out before this.
bool IsCommunicationFailure(const char* text) {
    for (uint8_t low = 0; low < 16; ++low) {
        if (Same(text, ModeQueryFailureMessage(low)) || Same(text, ModelIdFailureMessage(low)) ||
            Same(text, UpdateRequestFailureMessage(low))) {
            return true;
        }
    }
    return Same(text, kVersionReadFailedMessage) || Same(text, kVariantReadFailedMessage);
}

bool IsFailureAfterErase(const char* text) {
    return Same(text, kEraseFailedMessage) || Same(text, kUpdateSignalFailedMessage) ||
           Same(text, kTransferFailedMessage);
}

}  // namespace

ExitCode ExitCodeForMessage(const char* text) {
    if (text == nullptr) {
        return kExitUnexpected;
    }
    if (IsSuccess(text)) {
        return kExitSuccess;
    }
    if (IsImageRefusal(text)) {
        return kExitImageRefused;
    }
    if (IsOpenFailure(text)) {
        return kExitPortFailed;
    }
    if (IsControllerRefusal(text)) {
        return kExitControllerRefused;
    }
    if (IsCommunicationFailure(text)) {
        return kExitCommFailed;
    }
    if (IsFailureAfterErase(text)) {
        return kExitFailedAfterErase;
    }
    return kExitUnexpected;
}

const char* ResultName(ExitCode code) {
    switch (code) {
        case kExitSuccess:
            return "success";
        case kExitUsage:
            return "usage";
        case kExitImageRefused:
            return "image-refused";
        case kExitPortFailed:
            return "port-failed";
        case kExitControllerRefused:
            return "controller-refused";
        case kExitCommFailed:
            return "communication-failed";
        case kExitFailedAfterErase:
            return "update-failed";
        case kExitCancelled:
            return "cancelled";
        case kExitInterrupted:
            return "interrupted";
        case kExitUnexpected:
            break;
    }
    return "unexpected";
}

}  // namespace fwburn::console

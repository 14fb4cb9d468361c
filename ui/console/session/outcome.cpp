#include "ui/console/session/outcome.hpp"

#include <algorithm>
#include <vector>

namespace fwburn::console {

ExitCode ExitCodeFor(OutcomeKind kind) {
    switch (kind) {
        case OutcomeKind::Success:
            return kExitSuccess;
        case OutcomeKind::ImageRefused:
            return kExitImageRefused;
        case OutcomeKind::PortNotOpened:
            return kExitPortFailed;
        case OutcomeKind::ControllerRefused:
            return kExitControllerRefused;
        case OutcomeKind::CommunicationFailed:
            return kExitCommFailed;
        case OutcomeKind::FailedAfterErase:
            return kExitFailedAfterErase;
        case OutcomeKind::Cancelled:
            return kExitCancelled;
    }
    return kExitUnexpected;
}

const char* ResultName(ExitCode code) {
    switch (code) {
        case kExitSuccess:
            return OutcomeName(OutcomeKind::Success);
        case kExitUsage:
            return "usage";
        case kExitImageRefused:
            return OutcomeName(OutcomeKind::ImageRefused);
        case kExitPortFailed:
            return OutcomeName(OutcomeKind::PortNotOpened);
        case kExitControllerRefused:
            return OutcomeName(OutcomeKind::ControllerRefused);
        case kExitCommFailed:
            return OutcomeName(OutcomeKind::CommunicationFailed);
        case kExitFailedAfterErase:
            return OutcomeName(OutcomeKind::FailedAfterErase);
        case kExitCancelled:
            return OutcomeName(OutcomeKind::Cancelled);
        case kExitInterrupted:
            return "interrupted";
        case kExitUnexpected:
            break;
    }
    return "unexpected";
}

int WorstExitCode(const std::vector<int>& codes) {
    // Most urgent first: a controller left erased, then the failures in the order a person
    // would chase them, and a cancel last, since it wrote nothing.
    static const int kOrder[] = {kExitFailedAfterErase, kExitCommFailed,   kExitControllerRefused,
                                 kExitPortFailed,       kExitImageRefused, kExitUnexpected};
    for (const int wanted : kOrder) {
        if (std::find(codes.begin(), codes.end(), wanted) != codes.end()) {
            return wanted;
        }
    }
    for (const int code : codes) {
        if (code != kExitSuccess && code != kExitCancelled) {
            return code;
        }
    }
    const bool cancelled = std::find(codes.begin(), codes.end(), kExitCancelled) != codes.end();
    return cancelled ? kExitCancelled : kExitSuccess;
}

}  // namespace fwburn::console

#include "ui/console/outcome.hpp"

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

}  // namespace fwburn::console

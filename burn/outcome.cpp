#include "burn/outcome.hpp"

namespace fwburn {

const char* OutcomeName(OutcomeKind kind) {
    switch (kind) {
        case OutcomeKind::Success:
            return "success";
        case OutcomeKind::ImageRefused:
            return "image-refused";
        case OutcomeKind::PortNotOpened:
            return "port-failed";
        case OutcomeKind::ControllerRefused:
            return "controller-refused";
        case OutcomeKind::CommunicationFailed:
            return "communication-failed";
        case OutcomeKind::FailedAfterErase:
            return "update-failed";
        case OutcomeKind::Cancelled:
            break;
    }
    return "cancelled";
}

}  // namespace fwburn

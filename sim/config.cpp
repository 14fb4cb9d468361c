#include "sim/config.hpp"

namespace fwburn::sim {

const char* PhaseName(Phase phase) {
    switch (phase) {
        case Phase::kWake:
            return "wake";
        case Phase::kModeQuery:
            return "mode query";
        case Phase::kIdQuery:
            return "model-ID query";
        case Phase::kRegisterRead:
            return "register read";
        case Phase::kVersionQuery:
            return "version query";
        case Phase::kUpdateRequest:
            return "update request";
        case Phase::kBootModeQuery:
            return "boot mode query";
        case Phase::kBootId:
            return "ID";
        case Phase::kBootVersion:
            return "VERSION";
        case Phase::kEraseStep:
            return "ERASE";
        case Phase::kEraseEnd:
            return "end of erase";
        case Phase::kUpdate:
            return "UPDATE";
        case Phase::kBlock:
            return "block";
        case Phase::kTransferEnd:
            return "end of transfer";
        case Phase::kCount:
            break;
    }
    return "?";
}

bool IsAsciiPhase(Phase phase) {
    return phase <= Phase::kUpdateRequest || phase == Phase::kBootModeQuery;
}

}  // namespace fwburn::sim

#include "protocol/progress.hpp"

namespace fwburn {

void Progress::BeginPhase(Phase phase, uint32_t total) {
    figures_.flashStatus = static_cast<int32_t>(phase);
    figures_.progress = 0;
    figures_.done = 0;
    figures_.total = total;
    if (sink_ != nullptr) {
        sink_->PhaseStarted(phase, total);
    }
}

void Progress::Advance(uint32_t done, int32_t percent) {
    figures_.done = done;
    figures_.progress = percent;
    if (sink_ != nullptr) {
        sink_->Advanced(phase(), done, figures_.total, percent);
    }
}

void Progress::Failed(int32_t failures) {
    figures_.errCounter = failures;
    figures_.totalErrCounter += 1;
    if (sink_ != nullptr) {
        sink_->Retried(phase(), failures, figures_.totalErrCounter);
    }
}

void Progress::Reset() {
    figures_.elapsedTime = 0;
    figures_.flashStatus = 0;
    figures_.progress = 0;
    figures_.errCounter = 0;
    figures_.totalErrCounter = 0;
    figures_.done = 0;
    figures_.total = 0;
    figures_.surplusBytes = 0;
}

}  // namespace fwburn

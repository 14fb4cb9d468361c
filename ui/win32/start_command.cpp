#include "ui/win32/start_command.hpp"

#include "catalogue/job_state.hpp"

namespace fwburn {

const char kThreadStartFailedMessage[] = "CANNOT start the update";

namespace {
constexpr int kClicked = 0;  // BN_CLICKED
}

StartOutcome StartCommand(const StartOrigin& origin, bool standInImage, StartActions& actions) {
    if (origin.notification != kClicked || !origin.fromStartButton) {
        return StartOutcome::NotAClick;
    }
    // Claimed before the question: a Start that reaches the window while the question is open is
    // refused like one during an update.
    if (!TryClaimWorker()) {
        return StartOutcome::Busy;
    }
    const bool standInAllowed = standInImage && actions.ConfirmStandIn();
    if (standInImage && !standInAllowed) {
        ReleaseWorker();
        return StartOutcome::Declined;
    }
    actions.EnableStart(false);
    actions.StartElapsedTimer();
    if (!actions.StartWorker(standInAllowed)) {
        actions.StopElapsedTimer();
        elapsedTime = 0;
        ReleaseWorker();
        actions.EnableStart(true);
        actions.ShowError("ERROR", kThreadStartFailedMessage);
        return StartOutcome::ThreadFailed;
    }
    return StartOutcome::Started;
}

}  // namespace fwburn

#include "ui/win32/start_command.hpp"

namespace fwburn {

const char kThreadStartFailedMessage[] = "CANNOT start the update";

namespace {
constexpr int kClicked = 0;  // BN_CLICKED
}

StartOutcome StartCommand(const StartOrigin& origin, bool standInImage, WorkerFlag& worker,
                          Figures& figures, StartActions& actions) {
    if (origin.notification != kClicked || !origin.fromStartButton) {
        return StartOutcome::NotAClick;
    }
    // Claimed before the question: a Start that reaches the window while the question is open is
    // refused like one during an update.
    if (!worker.TryClaim()) {
        return StartOutcome::Busy;
    }
    const bool standInAllowed = standInImage && actions.ConfirmStandIn();
    if (standInImage && !standInAllowed) {
        worker.Release();
        return StartOutcome::Declined;
    }
    actions.EnableStart(false);
    actions.StartElapsedTimer();
    if (!actions.StartWorker(standInAllowed)) {
        actions.StopElapsedTimer();
        figures.elapsedTime = 0;
        worker.Release();
        actions.EnableStart(true);
        actions.ShowError("ERROR", kThreadStartFailedMessage);
        return StartOutcome::ThreadFailed;
    }
    return StartOutcome::Started;
}

}  // namespace fwburn

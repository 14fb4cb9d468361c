#include "ui/win32/start_command.hpp"

#include "catalogue/job_state.hpp"

namespace fwburn {

const char kThreadStartFailedMessage[] = "CANNOT start the update";

namespace {
constexpr int kClicked = 0;  // BN_CLICKED
}

StartOutcome StartCommand(const StartOrigin& origin, StartActions& actions) {
    // Escape arrives as command 2 (IDCANCEL) with the button as sender, exactly like a click: it
    // is told apart by where it came from, and it must never start an erase.
    if (origin.notification != kClicked || !origin.fromStartButton || origin.fromEscapeKey) {
        return StartOutcome::NotAClick;
    }
    if (!TryClaimWorker()) {
        return StartOutcome::Busy;
    }
    actions.EnableStart(false);
    actions.StartElapsedTimer();
    if (!actions.StartWorker()) {
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

// The window's Start command as a decision over a few actions, so that each refusal and the
// failed thread start are tested without a window.
#pragma once

namespace fwburn {

// What the window does for a Start; the window implements it with its controls, timer 5 and
// _beginthread.
class StartActions {
  public:
    virtual ~StartActions() = default;
    virtual void EnableStart(bool enabled) = 0;
    virtual void StartElapsedTimer() = 0;
    virtual void StopElapsedTimer() = 0;
    // Starts the burn worker on a thread of its own; false when no thread could be started.
    virtual bool StartWorker() = 0;
    virtual void ShowError(const char* caption, const char* text) = 0;
};

// How command 2 reached the window.
struct StartOrigin {
    int notification;      // the WM_COMMAND notification code
    bool fromStartButton;  // sent by the Start Burn button itself
    bool fromEscapeKey;    // made by the dialog keyboard handling from an Escape key
};

enum class StartOutcome {
    Started,
    NotAClick,     // Escape (IDCANCEL is also 2) or a command that is no click of the button
    Busy,          // a worker runs: refused, not queued
    ThreadFailed,  // the worker could not start: everything put back, the operator told
};

extern const char kThreadStartFailedMessage[];  // "CANNOT start the update"

// Starts an update for a click of the Start Burn button when no worker runs. The button is
// disabled before the worker starts, so no second click can slip in between.
StartOutcome StartCommand(const StartOrigin& origin, StartActions& actions);

}  // namespace fwburn

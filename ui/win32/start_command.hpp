// The window's Start command as a decision over a few actions, so that each refusal, the
// stand-in question and the failed thread start are tested without a window.
#pragma once

#include <atomic>

#include "protocol/progress.hpp"

namespace fwburn {

// One burn worker at a time, whatever the button's state says: claimed on the window thread by
// Start, given up by the worker thread once its update has returned.
class WorkerFlag {
  public:
    // True when the flag was free and is now taken.
    bool TryClaim() {
        bool expected = false;
        return claimed_.compare_exchange_strong(expected, true, std::memory_order_acq_rel);
    }
    void Release() { claimed_.store(false, std::memory_order_release); }
    bool Claimed() const { return claimed_.load(std::memory_order_acquire); }

  private:
    std::atomic<bool> claimed_{false};
};

// What the window does for a Start; the window implements it with its controls, timer 5, a
// Yes/No message box and _beginthreadex.
class StartActions {
  public:
    virtual ~StartActions() = default;
    virtual void EnableStart(bool enabled) = 0;
    virtual void StartElapsedTimer() = 0;
    virtual void StopElapsedTimer() = 0;
    // Asks whether to go on with a stand-in image (Yes/No, No the default); true for Yes.
    virtual bool ConfirmStandIn() = 0;
    // Sets the job of the window's update (on the window thread) and starts the burn worker on a
    // thread of its own; false when no thread could be started. `standInAllowed`: the operator
    // said Yes to the stand-in question.
    virtual bool StartWorker(bool standInAllowed) = 0;
    virtual void ShowError(const char* caption, const char* text) = 0;
};

// How command 2 reached the window. Escape and Ctrl+Break, which the dialog keyboard handling
// also turns into command 2, never get this far: the message loop drops them.
struct StartOrigin {
    int notification;      // the WM_COMMAND notification code
    bool fromStartButton;  // sent by the Start Burn button itself
};

enum class StartOutcome {
    Started,
    NotAClick,     // a command 2 that is no click of the button
    Busy,          // a worker runs: refused, not queued
    Declined,      // a stand-in build and the operator said No: nothing started
    ThreadFailed,  // the worker could not start: everything put back, the operator told
};

extern const char kThreadStartFailedMessage[];  // "CANNOT start the update"

// Starts an update for a click of the Start Burn button when no worker runs. A build whose image
// is a stand-in asks first, and starts nothing on No. The button is disabled before the worker
// starts, so no second click can slip in between. `worker` is the window's one-worker flag,
// `figures` those of the window's update (a worker that cannot start leaves its seconds at 0).
StartOutcome StartCommand(const StartOrigin& origin, bool standInImage, WorkerFlag& worker,
                          Figures& figures, StartActions& actions);

}  // namespace fwburn

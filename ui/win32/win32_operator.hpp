// The operator seam of the window: modal message boxes owned by the main window, the Start Burn
// button, timer 5, and the device opens of the Windows link. The window makes one for its life;
// the burn worker's thread uses it.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

#include "burn/operator.hpp"
#include "burn/update.hpp"
#include "link/win32/update_lock.hpp"
#include "link/win32/win32_device.hpp"
#include "ui/win32/stop_signal.hpp"
#include "ui/win32/stoppable_device.hpp"

namespace fwburn {

// Sent to the main window: the window thread kills timer 5 itself, so that the timer and its
// queued ticks go away together before the worker clears the elapsed time.
constexpr UINT kStopElapsedTimerMessage = WM_APP + 1;
// Sent to the main window when the update's outcome is decided, before its message is shown: a
// close question still open asks about an update that has ended, and the window withdraws it.
constexpr UINT kOutcomeMessage = WM_APP + 4;
constexpr UINT_PTR kElapsedTimerId = 5;
constexpr UINT_PTR kPanelTimerId = 6;

class Win32Operator final : public Operator {
  public:
    // `update`: the window's one update, whose port name a serial open sets to the port picked.
    Win32Operator(HWND mainWindow, HWND startButton, const StopSignal& stop,
                  Update* update = nullptr)
        : mainWindow_(mainWindow), startButton_(startButton), stop_(stop), update_(update) {}

    // The port the operator picked, on the window thread, also while an update runs: the next
    // serial open takes it (after a power cycle an adapter may come back as another COM port).
    void PickPort(const char* name);

    // Once the window has asked its worker to stop, no message is shown (a prompt answers
    // Cancel), waits end at once with Cancel, no port opens and the open link fails every call:
    // the worker ends and closes it. A prompt closed by that stop answers Cancel too.
    Answer Prompt(ReconnectKind kind, const char* caption, const char* text) override;
    void ShowOutcome(const UpdateOutcome& outcome) override;
    // Disables Start Burn. Enabling is left to the window, which does it when the worker thread
    // has ended: the worker gives up its one-worker flag only after it asks to enable, and a
    // click on a button enabled before that would be refused.
    void EnableStart(bool enabled) override;
    void StopElapsedTimer() override;
    Answer WaitSeconds(int seconds) override;
    Device* OpenSerial(const char* portName) override;
    Device* OpenUsb() override;
    void Close(Device* device) override;
    // The update has ended: its lock goes. On the worker's thread, which took it.
    void EndUpdate();

  private:
    // The first open of an update locks its port (or the USB link) until EndUpdate, so that no
    // other window or console updates the controller meanwhile, prompts included; a port picked
    // during the update is locked too when it is opened, the first one kept. False when another
    // update holds it: the open fails and the final message says who holds it.
    bool Lock(const std::string& identity, const std::string& what);
    // One modal OK box owned by the main window; Cancel when a stop came before or during it.
    Answer Show(const char* caption, const char* text, MessageIcon icon);
    Device* Hold(HANDLE handle);

    HWND mainWindow_;
    HWND startButton_;
    const StopSignal& stop_;
    Win32Device device_;  // one link at a time
    StoppableDevice link_{device_, stop_.flag()};
    Update* update_;
    std::mutex pickMutex_;
    char picked_[Update::kPortNameSize] = {};
    UpdateLock lock_;        // the identity of the update's first open
    UpdateLock pickedLock_;  // a port picked and opened during the update, when another
    std::string locked_;
    std::string pickedLocked_;
    std::string refusal_;  // why the last lock was refused
};

}  // namespace fwburn

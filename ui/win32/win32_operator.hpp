// The operator seam of the window: modal message boxes owned by the main window, the Start Burn
// button, timer 5, and the device opens of the Windows link. Used on the burn worker's thread.
#pragma once

#include <windows.h>

#include "burn/operator.hpp"
#include "link/win32/win32_device.hpp"
#include "ui/win32/stop_signal.hpp"
#include "ui/win32/stoppable_device.hpp"

namespace fwburn {

// Sent to the main window: the window thread kills timer 5 itself, so that the timer and its
// queued ticks go away together before the worker clears the elapsed time.
constexpr UINT kStopElapsedTimerMessage = WM_APP + 1;
constexpr UINT_PTR kElapsedTimerId = 5;
constexpr UINT_PTR kPanelTimerId = 6;

class Win32Operator final : public Operator {
  public:
    Win32Operator(HWND mainWindow, HWND startButton, const StopSignal& stop)
        : mainWindow_(mainWindow), startButton_(startButton), stop_(stop) {}

    // Once the window has asked its worker to stop, no message is shown, waits end at once with
    // Cancel, no port opens and the open link fails every call: the worker ends and closes it.
    Answer ShowMessage(const char* caption, const char* text, MessageIcon icon) override;
    // Disables Start Burn. Enabling is left to the window, which does it when the worker thread
    // has ended: the worker gives up its one-worker flag only after it asks to enable, and a
    // click on a button enabled before that would be refused.
    void EnableStart(bool enabled) override;
    void StopElapsedTimer() override;
    Answer WaitSeconds(int seconds) override;
    Device* OpenSerial(const char* portName) override;
    Device* OpenUsb() override;
    void Close(Device* device) override;

  private:
    Device* Hold(HANDLE handle);

    HWND mainWindow_;
    HWND startButton_;
    const StopSignal& stop_;
    Win32Device device_;  // one link at a time
    StoppableDevice link_{device_, stop_.flag()};
};

}  // namespace fwburn

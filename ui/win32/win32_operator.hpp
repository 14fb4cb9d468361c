// The operator seam of the window: modal message boxes owned by the main window, the Start Burn
// button, timer 5, and the device opens of the Windows link. Used on the burn worker's thread.
#pragma once

#include <windows.h>

#include "burn/operator.hpp"
#include "link/win32/win32_device.hpp"

namespace fwburn {

// Sent to the main window: the window thread kills timer 5 itself, so that the timer and its
// queued ticks go away together before the worker clears the elapsed time.
constexpr UINT kStopElapsedTimerMessage = WM_APP + 1;
constexpr UINT_PTR kElapsedTimerId = 5;
constexpr UINT_PTR kPanelTimerId = 6;

class Win32Operator final : public Operator {
  public:
    Win32Operator(HWND mainWindow, HWND startButton)
        : mainWindow_(mainWindow), startButton_(startButton) {}

    Answer ShowMessage(const char* caption, const char* text, MessageIcon icon) override;
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
    Win32Device device_;  // one link at a time
};

}  // namespace fwburn

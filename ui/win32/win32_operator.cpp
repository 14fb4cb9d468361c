#include "ui/win32/win32_operator.hpp"

#include "link/win32/usb_search.hpp"

namespace fwburn {

Answer Win32Operator::Show(const char* caption, const char* text, MessageIcon icon) {
    if (stop_.Requested()) {
        return Answer::Cancel;
    }
    const UINT style = MB_OK | (icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION);
    MessageBoxA(mainWindow_, text, caption, style);
    return stop_.Requested() ? Answer::Cancel : Answer::Ok;
}

Answer Win32Operator::Prompt(ReconnectKind, const char* caption, const char* text) {
    return Show(caption, text, MessageIcon::Information);
}

void Win32Operator::ShowOutcome(const UpdateOutcome& outcome) {
    if (!outcome.shown()) {  // a cancelled update ends without a message
        return;
    }
    Show(outcome.caption, outcome.text, outcome.icon);
}

void Win32Operator::EnableStart(bool enabled) {
    if (!enabled) {
        EnableWindow(startButton_, FALSE);
    }
}

void Win32Operator::StopElapsedTimer() {
    SendMessageA(mainWindow_, kStopElapsedTimerMessage, 0, 0);
}

Answer Win32Operator::WaitSeconds(int seconds) {
    return stop_.Wait(static_cast<DWORD>(seconds) * 1000u) ? Answer::Cancel : Answer::Ok;
}

Device* Win32Operator::Hold(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) {
        return &ClosedDevice();
    }
    device_.Attach(handle);
    if (stop_.Requested()) {  // asked to stop while the open was under way
        device_.Close();
        return &ClosedDevice();
    }
    return &link_;
}

Device* Win32Operator::OpenSerial(const char* portName) {
    return stop_.Requested() ? &ClosedDevice() : Hold(OpenSerialPort(portName));
}

Device* Win32Operator::OpenUsb() {
    return stop_.Requested() ? &ClosedDevice() : Hold(OpenMyDevPipe(""));
}

void Win32Operator::Close(Device* device) {
    if (device == &link_ || device == &device_) {
        device_.Close();
    }
}

}  // namespace fwburn

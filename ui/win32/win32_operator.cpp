#include "ui/win32/win32_operator.hpp"

#include "link/win32/usb_search.hpp"

namespace fwburn {

Answer Win32Operator::ShowMessage(const char* caption, const char* text, MessageIcon icon) {
    const UINT style = MB_OK | (icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION);
    MessageBoxA(mainWindow_, text, caption, style);
    return Answer::Ok;
}

void Win32Operator::EnableStart(bool enabled) {
    EnableWindow(startButton_, enabled ? TRUE : FALSE);
}

void Win32Operator::StopElapsedTimer() {
    SendMessageA(mainWindow_, kStopElapsedTimerMessage, 0, 0);
}

Answer Win32Operator::WaitSeconds(int seconds) {
    Sleep(static_cast<DWORD>(seconds) * 1000u);
    return Answer::Ok;
}

Device* Win32Operator::Hold(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) {
        return &ClosedDevice();
    }
    device_.Attach(handle);
    return &device_;
}

Device* Win32Operator::OpenSerial(const char* portName) {
    return Hold(OpenSerialPort(portName));
}

Device* Win32Operator::OpenUsb() {
    return Hold(OpenMyDevPipe(""));
}

void Win32Operator::Close(Device* device) {
    if (device == &device_) {
        device_.Close();
    }
}

}  // namespace fwburn

#include "link/win32/win32_device.hpp"

#include "link/win32/port_names.hpp"

namespace fwburn {

void Win32Device::Attach(HANDLE handle) {
    Close();
    handle_ = handle;
    hungUp_ = false;
    modemLinesKept_ = false;
}

void Win32Device::Close() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

uint32_t Win32Device::Write(const uint8_t* data, uint32_t length) {
    DWORD written = 0;
    if (handle_ == INVALID_HANDLE_VALUE || writingStopped_.load(std::memory_order_relaxed)) {
        return 0;
    }
    if (!WriteFile(handle_, data, static_cast<DWORD>(length), &written, nullptr)) {
        Failed(GetLastError());
        return 0;
    }
    return static_cast<uint32_t>(written);
}

uint32_t Win32Device::Read(uint8_t* buffer, uint32_t length) {
    DWORD received = 0;
    if (handle_ == INVALID_HANDLE_VALUE) {
        return 0;
    }
    if (!ReadFile(handle_, buffer, static_cast<DWORD>(length), &received, nullptr)) {
        Failed(GetLastError());
        return 0;
    }
    return static_cast<uint32_t>(received);
}

void Win32Device::Failed(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:         // usbser.sys after a surprise removal
        case ERROR_NOT_READY:             // Wine: EIO from a pseudo-terminal whose far end closed
        case ERROR_BAD_COMMAND:           // usbser.sys, and adapters' drivers, once removed
        case ERROR_GEN_FAILURE:           // the same
        case ERROR_DEVICE_NOT_CONNECTED:  // the same
        case ERROR_DEVICE_REMOVED:
            hungUp_ = true;
            return;
        default:
            return;  // a time-out or an aborted transfer: the line may still be there
    }
}

bool Win32Device::GetLineSettings(LineSettings& settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (handle_ == INVALID_HANDLE_VALUE || !calls_.get(handle_, &dcb)) {
        return false;
    }
    settings.baudRate = static_cast<uint32_t>(dcb.BaudRate);
    settings.byteSize = dcb.ByteSize;
    settings.parity = dcb.Parity;
    settings.stopBits = dcb.StopBits;
    settings.dtrControl = static_cast<uint8_t>(dcb.fDtrControl);
    settings.rtsControl = static_cast<uint8_t>(dcb.fRtsControl);
    return true;
}

bool Win32Device::SetLineSettings(const LineSettings& settings) {
    if (handle_ == INVALID_HANDLE_VALUE) {
        return false;
    }
    // The fields the updater does not name stay as the port had them, but for flow control and
    // character handling (below). A handle that cannot report its settings (a USB device, a
    // driver that refuses the read) is still asked to take them: whether it does is the write's
    // own answer.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!calls_.get(handle_, &dcb)) {
        dcb = DCB{};
        dcb.DCBlength = sizeof dcb;
        dcb.fBinary = TRUE;  // the only mode Windows has
    }
    dcb.BaudRate = static_cast<DWORD>(settings.baudRate);
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = settings.parity;
    dcb.StopBits = settings.stopBits;
    dcb.fDtrControl = modemLinesKept_ ? DTR_CONTROL_ENABLE : settings.dtrControl & 3u;
    dcb.fRtsControl = modemLinesKept_ ? RTS_CONTROL_ENABLE : settings.rtsControl & 3u;
    // What another program left on the port (a terminal's XON/XOFF, the Device Manager's
    // hardware flow control) must not shape the stream: blocks carry 0x11 and 0x13 as data, the
    // bootloader's replies carry 0x00, and a three-wire cable leaves CTS and DSR low, which would
    // hold every write or drop every reply. The line is the bytes and nothing else, as the POSIX
    // link's raw termios has it. Nor may a line error stop the port: left to abort on errors,
    // the driver fails every call after one (a framing error as the controller's line changes
    // speed) until the error is cleared, the next line settings and time-outs included.
    dcb.fOutxCtsFlow = dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fAbortOnError = FALSE;
    return calls_.set(handle_, &dcb) != FALSE;
}

bool Win32Device::SetTimeouts(const Timeouts& timeouts) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = static_cast<DWORD>(timeouts.readInterval);
    t.ReadTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.readTotalMultiplier);
    t.ReadTotalTimeoutConstant = static_cast<DWORD>(timeouts.readTotalConstant);
    t.WriteTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.writeTotalMultiplier);
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(timeouts.writeTotalConstant);
    return handle_ != INVALID_HANDLE_VALUE && SetCommTimeouts(handle_, &t) != FALSE;
}

uint32_t Win32Device::DiscardInput() {
    // A late reply to an earlier attempt must not be read as the reply to the next request. A USB
    // device handle is no comm device: both calls fail there and nothing is lost by it. A byte
    // that lands between the count and the purge is dropped uncounted.
    if (handle_ == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD errors = 0;
    COMSTAT status{};
    const uint32_t waiting =
        ClearCommError(handle_, &errors, &status) ? static_cast<uint32_t>(status.cbInQue) : 0;
    PurgeComm(handle_, PURGE_RXCLEAR);
    return waiting;
}

uint32_t Win32Device::ReadLatencyMs() const {
    constexpr uint32_t kAdapterLatencyMs = 16;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    return handle_ != INVALID_HANDLE_VALUE && calls_.get(handle_, &dcb) ? kAdapterLatencyMs : 0;
}

HANDLE OpenSerialPort(const char* listedName) {
    char path[kSerialPathSize];
    if (!SerialDevicePath(listedName, path)) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool IsSerialPort(HANDLE handle) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    return GetFileType(handle) == FILE_TYPE_CHAR && GetCommState(handle, &dcb) != FALSE;
}

}  // namespace fwburn

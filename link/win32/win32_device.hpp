// The device-handle seam on a Win32 file handle: a serial port opened by name, or the
// controller's USB device opened by its interface path. Synchronous, non-overlapped I/O; reads end
// by the time-outs of the last SetTimeouts.
#pragma once

#include <windows.h>

#include <atomic>

#include "link/device.hpp"

namespace fwburn {

// The comm-state calls the device makes; a test stands in for a driver through them.
struct CommStateCalls {
    BOOL(WINAPI* get)(HANDLE, LPDCB) = GetCommState;
    BOOL(WINAPI* set)(HANDLE, LPDCB) = SetCommState;
};

class Win32Device final : public Device {
  public:
    Win32Device() = default;
    explicit Win32Device(const CommStateCalls& calls) : calls_(calls) {}
    Win32Device(const Win32Device&) = delete;
    Win32Device& operator=(const Win32Device&) = delete;
    ~Win32Device() override { Close(); }

    // Takes ownership of an open handle, closing the one held before.
    void Attach(HANDLE handle);
    void Close();
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE handle() const { return handle_; }
    // DTR and RTS stay raised whatever a line setting asks, until the next Attach: for the
    // controller's own USB link, a USB modem that may stop sending when DTR falls. The switch to
    // the transfer's settings asks for both low; where the handle is a comm device (the COM port
    // Windows gives the controller's USB serial device), the blocks after the erase could then go
    // unanswered.
    void KeepModemLines() { modemLinesKept_ = true; }
    // Nothing more is written, from any thread: for a process about to end while its worker may
    // still send a request on a reply that comes meanwhile.
    void StopWriting() { writingStopped_.store(true, std::memory_order_relaxed); }
    // A read or write of this handle failed as they fail on a device that is gone: a USB serial
    // adapter pulled out, or (under Wine) the far end of the pseudo-terminal closed. Reads there
    // keep returning nothing, which alone looks like a controller that does not answer.
    bool hungUp() const { return hungUp_; }

    uint32_t Write(const uint8_t* data, uint32_t length) override;
    uint32_t Read(uint8_t* buffer, uint32_t length) override;
    bool GetLineSettings(LineSettings& settings) override;
    bool SetLineSettings(const LineSettings& settings) override;
    bool SetTimeouts(const Timeouts& timeouts) override;
    uint32_t DiscardInput() override;
    // Any COM port may be a USB-serial adapter, which Windows does not tell apart from a UART
    // here: the FTDI default latency timer for every port that has line settings.
    uint32_t ReadLatencyMs() const override;

  private:
    void Failed(DWORD error);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    CommStateCalls calls_;
    std::atomic<bool> hungUp_{false};  // set by the worker's reads, read by the main loop
    std::atomic<bool> writingStopped_{false};
    bool modemLinesKept_ = false;
};

// Opens a listed serial port ("COM3", "COM12") exclusively for synchronous reading and writing,
// by its device-namespace name. INVALID_HANDLE_VALUE when it does not exist, is in use, or the
// name is empty or too long.
HANDLE OpenSerialPort(const char* listedName);

// Whether an open handle is a serial port: a character device with a line (comm state). NUL, CON,
// a pipe or a file open as well, and would take the requests without a reply.
bool IsSerialPort(HANDLE handle);

}  // namespace fwburn

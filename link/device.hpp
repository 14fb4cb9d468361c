// The device-handle seam: everything a protocol command asks of an open serial port or USB device.
// Implementations: the Win32 handle, a POSIX file descriptor, the closed handle, test fakes and the
// in-process controller simulator.
#pragma once

#include <cstdint>

namespace fwburn {

// The line-setting fields the updater changes; an implementation keeps every other field of the
// port's settings as it found them, except flow control and character handling, which it turns
// off: the line carries the bytes as they are.
struct LineSettings {
    uint32_t baudRate = 0;
    uint8_t byteSize = 0;
    uint8_t parity = 0;      // 0 none, 1 odd, 2 even
    uint8_t stopBits = 0;    // 0 one, 1 one and a half, 2 two
    uint8_t dtrControl = 0;  // 0 disabled
    uint8_t rtsControl = 0;  // 0 disabled

    bool operator==(const LineSettings& o) const {
        return baudRate == o.baudRate && byteSize == o.byteSize && parity == o.parity &&
               stopBits == o.stopBits && dtrControl == o.dtrControl && rtsControl == o.rtsControl;
    }
    bool operator!=(const LineSettings& o) const { return !(*this == o); }
};

constexpr uint8_t kNoParity = 0;
constexpr uint8_t kEvenParity = 2;
constexpr uint8_t kOneStopBit = 0;
constexpr uint8_t kControlDisabled = 0;

// The five fields of a port's time-out record, in milliseconds. With readInterval at its maximum
// and the multipliers 0, a read returns when all requested bytes came or when readTotalConstant
// has run out, with what did come.
struct Timeouts {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;

    bool operator==(const Timeouts& o) const {
        return readInterval == o.readInterval && readTotalMultiplier == o.readTotalMultiplier &&
               readTotalConstant == o.readTotalConstant &&
               writeTotalMultiplier == o.writeTotalMultiplier &&
               writeTotalConstant == o.writeTotalConstant;
    }
    bool operator!=(const Timeouts& o) const { return !(*this == o); }
};

constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

class Device {
  public:
    virtual ~Device() = default;
    // Returns the count of bytes written; less than `length` when the write time-out ran out.
    virtual uint32_t Write(const uint8_t* data, uint32_t length) = 0;
    // Returns when `length` bytes came or the total read time-out ran out, with the count received.
    virtual uint32_t Read(uint8_t* buffer, uint32_t length) = 0;
    // Both return false when the handle is no serial port (a USB device) or is not open.
    // SetLineSettings asks the handle to take the settings even when the current ones cannot be
    // read (the Win32 handle writes its record all the same); only an implementation that cannot
    // form the write without that read (a termios one) gives up on it.
    virtual bool GetLineSettings(LineSettings& settings) = 0;
    virtual bool SetLineSettings(const LineSettings& settings) = 0;
    virtual bool SetTimeouts(const Timeouts& timeouts) = 0;
    // Drops every byte that has arrived and not been read; returns how many that were, as far as
    // the port can count them (0 where it cannot).
    virtual uint32_t DiscardInput() = 0;
    // How long the link may hold bytes that have arrived before a read can see them: the latency
    // timer of a USB-serial adapter, which sends a short packet only when it runs out. 0 for a
    // UART, a pseudo-terminal and the controller's own USB port.
    virtual uint32_t ReadLatencyMs() const = 0;
};

// The handle of no device: every call fails at once. What an open failure leaves behind.
Device& ClosedDevice();

}  // namespace fwburn

// The earliest moment a reply can arrive on a line with a real baud rate. A request of n bytes
// needs n byte times to cross the line before the controller can even start to answer, so what
// arrives sooner is not its reply: a stale byte of an earlier exchange (the block acknowledgement
// is one byte without a block number). USB links (the controller's own cdc_acm port) have no baud
// rate, and a pseudo-terminal has no wire: there the rule cannot apply.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace fwburn::posix {

class WireClock {
  public:
    using Clock = std::chrono::steady_clock;

    // The line in use: its baud rate and bits per byte (start, data, parity, stop) from the
    // termios; a rate of 0 stops the rule until the next call.
    void SetLine(const termios& t);
    // `length` bytes handed to the line at `start`. The line is busy with them until at least
    // then plus their wire time, later if earlier bytes were still on it.
    void Wrote(Clock::time_point start, uint32_t length);
    // Before this, no reply to the last write can have arrived.
    Clock::time_point EarliestReply() const { return lineFree_; }
    // The wire time of `length` bytes, less the margin of a host whose baud clock runs a few
    // percent fast.
    Clock::duration WireTime(uint32_t length) const;

  private:
    uint32_t baud_ = 0;
    uint32_t bitsPerByte_ = 10;
    Clock::time_point lineFree_{};
};

// A USB-serial adapter's port, told by what sysfs says of the tty `name` (e.g. "ttyUSB0") under
// `sysRoot`: its device sits on the usb-serial bus. The value is the adapter's latency timer in
// ms, from the driver's latency_timer attribute where it has one (ftdi_sio), else the FTDI default
// of 16. nullopt for every other kind of port (cdc_acm's device is a USB interface, a UART's a
// platform or pnp device, a pseudo-terminal has none).
std::optional<uint32_t> UsbSerialLatencyMs(const std::string& sysRoot, const std::string& name);

// Whether the port at `fd` has a wire with a baud rate: a USB-serial adapter (`usbSerial`, which
// the UART type cannot tell: ftdi_sio, cp210x, pl2303 and ch341 report none), or a UART of the
// serial core, whose TIOCGSERIAL type is known. cdc_acm and pseudo-terminals have none.
bool PortHasWire(int fd, bool usbSerial);

// FWBURN_WIRE_TIMING: "on" or "off" decide for every port (a pseudo-terminal behind a wire-speed
// simulator has a wire the open cannot see); anything else leaves it to PortHasWire.
std::optional<bool> WireTimingOverride(const char* value);

}  // namespace fwburn::posix

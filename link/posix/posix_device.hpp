// The device handle on a POSIX file descriptor: a serial port, a USB modem (the controller's own
// USB link) or a pseudo-terminal, opened exclusively and driven in raw mode.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "link/device.hpp"
#include "link/posix/wire_timing.hpp"

namespace fwburn::posix {

enum class OpenError { kNone, kMissing, kBusy, kNotSerial, kDenied, kFailed };

struct OpenFailure {
    OpenError reason = OpenError::kNone;
    std::string message;  // "<path>: <reason>", for the operator
};

class PosixDevice;

// Opens `path` for exclusive use: refused while another program holds it (TIOCEXCL for ordinary
// users, an advisory flock() for everyone, root and this process included). Leaves the port raw
// (8 data bits, no parity, no flow control), with its baud rate, stop bits and modem lines as
// found, and its buffers flushed. A terminal, this program's own or another session's controlling
// one, is refused untouched. With `locked`, a path that now leads to another device than that one
// (a symbolic link pointed elsewhere since) is refused untouched too. Null on failure, with the
// reason in `failure` when given.
std::unique_ptr<PosixDevice> OpenSerialPort(const std::string& path, OpenFailure* failure = nullptr,
                                            std::optional<dev_t> locked = std::nullopt);

class PosixDevice final : public Device {
  public:
    ~PosixDevice() override;
    PosixDevice(const PosixDevice&) = delete;
    PosixDevice& operator=(const PosixDevice&) = delete;

    // Writes until all is written or the write time-out runs out. Line settings another process
    // changed since this device last set them are set back first.
    uint32_t Write(const uint8_t* data, uint32_t length) override;
    // Win32 read time-out rules: total = multiplier * length + constant (none when both are 0);
    // an interval other than 0 or MAXDWORD ends the read after that long without a byte; interval
    // MAXDWORD with both totals 0 returns at once with what is there; interval and multiplier
    // MAXDWORD with a constant returns as soon as anything came. A hung-up line ends a read early.
    // On a port with a wire, bytes that arrive before the last write could have crossed it are
    // dropped and the read goes on waiting: they cannot be its reply.
    uint32_t Read(uint8_t* buffer, uint32_t length) override;
    // What the kernel holds now, which on a pseudo-terminal is always 8 bits without parity.
    bool GetLineSettings(LineSettings& settings) override;
    // Waits for pending output to go out at the old baud rate, then switches. DTR and RTS follow
    // the request where the port has modem lines, unless they are kept (below). A rate or framing
    // the driver did not take is refused, and the line put back as it was.
    bool SetLineSettings(const LineSettings& settings) override;
    bool SetTimeouts(const Timeouts& timeouts) override;
    // Drops the input the kernel holds and says how much that was (bytes an adapter still holds
    // are neither seen nor dropped).
    uint32_t DiscardInput() override;
    uint32_t ReadLatencyMs() const override { return readLatencyMs_; }

    // Whether the stale-reply rule above applies: set at the open from the port's kind (sysfs
    // under FWBURN_SYSFS_ROOT, /sys by default, and TIOCGSERIAL) and FWBURN_WIRE_TIMING.
    bool wireTiming() const { return wireTiming_; }
    void SetWireTiming(bool on) { wireTiming_ = on; }
    // DTR and RTS stay raised, as the open left them, whatever a line setting asks: for the
    // controller's own USB link, a USB modem that may stop sending when DTR falls. The switch to
    // the transfer's settings asks for both low; lowered there, the blocks after the erase could
    // go unanswered. (The Windows program's USB handle is no comm device: no line change of it
    // is known to reach the controller.)
    void KeepModemLines() { modemLinesKept_ = true; }
    // Bytes dropped by that rule since the open.
    uint64_t staleBytesDropped() const { return staleDropped_; }
    // How often a write found the line settings changed by another process and set them back.
    uint64_t lineRestored() const { return lineRestored_; }
    // A read found the line hung up (unplugged, or the far end of a pseudo-terminal closed).
    bool hungUp() const { return hungUp_; }

    // Removes our LCK.. file now, for a process about to end with the descriptor still open.
    void ReleaseLockFile();
    // Nothing more is written, from any thread: for a process about to end while its worker may
    // still send a request on a reply that comes meanwhile.
    void StopWriting() { writingStopped_.store(true, std::memory_order_relaxed); }

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // The termios last handed to the kernel, as asked; a pseudo-terminal rewrites its framing.
    const termios& requestedTermios() const { return requested_; }

  private:
    friend std::unique_ptr<PosixDevice> OpenSerialPort(const std::string&, OpenFailure*,
                                                       std::optional<dev_t>);
    PosixDevice(int fd, std::string path, const termios& requested);
    void KeepLine();

    int fd_;
    std::string path_;
    std::string lockFile_;  // our LCK.. file, removed at the close
    termios requested_;
    termios held_{};  // what the kernel held right after this device's last setting
    // Until the first SetTimeouts a read returns at once: nothing blocks before it is asked to.
    Timeouts timeouts_{kMaxDword, 0, 0, 0, 0};
    // Levels last asked for, reported where the port has no modem lines to read back. Opening a
    // tty raises both.
    uint8_t dtr_ = 1;
    uint8_t rts_ = 1;
    bool modemLinesKept_ = false;
    bool pseudoTerminal_ = false;  // holds 8 bits without parity whatever it is asked
    bool wireTiming_ = false;
    WireClock wire_;
    uint64_t staleDropped_ = 0;
    uint64_t lineRestored_ = 0;
    bool hungUp_ = false;
    std::atomic<bool> writingStopped_{false};
    uint32_t readLatencyMs_ = 0;
};

}  // namespace fwburn::posix

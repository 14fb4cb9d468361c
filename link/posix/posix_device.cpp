#include "link/posix/posix_device.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

#include "link/posix/lock_file.hpp"
#include "link/posix/port_holder.hpp"
#include "link/posix/termios_map.hpp"

namespace fwburn::posix {

namespace {

// The kernel's majors of Unix 98 pseudo-terminal slaves (/dev/pts/N).
constexpr unsigned kPtySlaveMajor = 136;
constexpr unsigned kPtySlaveMajors = 8;

// Terminals that never lead to a PLC, by their kernel numbers. Each open of the multiplexer makes
// a new pseudo-terminal with nothing at its far end (and every terminal program holds it open,
// which would be told as the port in use); what is written on a virtual console (major 4 below
// minor 64: tty0, the one shown, and tty1 up) or on the system console shows on the machine's
// screen.
const char* NotAPlcPort(dev_t device) {
    if (device == makedev(5, 2)) {
        return "the pseudo-terminal multiplexer";
    }
    if (device == makedev(5, 1)) {
        return "the system console";
    }
    return major(device) == 4 && minor(device) < 64 ? "a virtual console" : nullptr;
}

// steady_clock is CLOCK_MONOTONIC: setting the wall clock neither stretches nor cuts a time-out.
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// A Win32 time-out of MAXDWORD * length ms would overflow the clock's nanoseconds.
constexpr uint64_t kLongestWaitMs = uint64_t{1} << 40;

Clock::duration Millis(uint64_t ms) {
    return Ms(static_cast<Ms::rep>(std::min(ms, kLongestWaitMs)));
}

template <typename F>
int RetryOnEintr(F call) {
    int r;
    do {
        r = call();
    } while (r < 0 && errno == EINTR);
    return r;
}

// Milliseconds until `deadline`, rounded up so that poll() never wakes before it; 0 once passed.
int MsUntil(Clock::time_point deadline) {
    const Clock::duration left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    const Ms::rep ms = std::chrono::ceil<Ms>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Sleeps until `fd` is ready for `events` or `timeoutMs` passed (-1: no limit); a signal ends the
// sleep early and the caller simply looks again. False when the line hung up or failed.
bool Await(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    if (poll(&p, 1, timeoutMs) < 0) {
        return errno == EINTR;
    }
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

struct ReadPlan {
    bool immediate = false;    // return with what is there
    bool returnOnAny = false;  // return as soon as one chunk came
    std::optional<Clock::duration> total;
    std::optional<Clock::duration> interval;  // longest gap between bytes, once one came
};

ReadPlan PlanRead(const Timeouts& t, uint32_t length) {
    ReadPlan plan;
    if (t.readInterval == kMaxDword) {
        if (t.readTotalMultiplier == 0 && t.readTotalConstant == 0) {
            plan.immediate = true;
            return plan;
        }
        if (t.readTotalMultiplier == kMaxDword && t.readTotalConstant != 0 &&
            t.readTotalConstant != kMaxDword) {
            plan.returnOnAny = true;
            plan.total = Millis(t.readTotalConstant);
            return plan;
        }
    } else if (t.readInterval != 0) {
        plan.interval = Millis(t.readInterval);
    }
    if (t.readTotalMultiplier != 0 || t.readTotalConstant != 0) {
        plan.total = Millis(uint64_t{t.readTotalMultiplier} * length + t.readTotalConstant);
    }
    return plan;
}

// The line-control ioctls answer these on a pseudo-terminal, which has no modem lines.
bool NoModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

// Raises or lowers one modem line; true when done or when the port has no such line.
bool SetModemLine(int fd, int line, bool raised) {
    const int r = RetryOnEintr([&] { return ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &line); });
    return r == 0 || NoModemLines(errno);
}

OpenError ReasonOf(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return OpenError::kMissing;
        case EBUSY:
        case EWOULDBLOCK:
            return OpenError::kBusy;
        case EACCES:
        case EPERM:
            return OpenError::kDenied;
        case ENOTTY:
        case EINVAL:
            return OpenError::kNotSerial;
        default:
            return OpenError::kFailed;
    }
}

std::string Describe(OpenError reason, int error) {
    switch (reason) {
        case OpenError::kMissing:
            return "no such port";
        case OpenError::kBusy:
            return "in use by another program";
        case OpenError::kDenied:
            return "permission denied";
        case OpenError::kNotSerial:
            return "not a serial port";
        default:
            return std::strerror(error);
    }
}

// The refusal of a busy port with the program that holds it, where /proc shows one.
std::string Busy(const std::string& path, const PortHolder& holder) {
    return path + ": " + Describe(OpenError::kBusy, EBUSY) +
           (holder.pid > 0 ? " (" + holder.program + ", process " + std::to_string(holder.pid) + ")"
                           : "");
}

std::string CharKey(dev_t device) {
    return "char " + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The program's own terminal, by any name (/dev/tty, its pts), or where its standard streams go:
// taken as the port, the frames would land on the screen, the keys typed would be read as
// replies, and the terminal would be left raw. A standard stream that was closed is no terminal:
// the port itself may have been given its number.
bool OwnTerminal(int fd) {
    if (tcgetsid(fd) >= 0) {  // answers only for the caller's controlling terminal
        return true;
    }
    struct stat port {};
    if (fstat(fd, &port) != 0) {
        return false;
    }
    for (int standard = STDIN_FILENO; standard <= STDERR_FILENO; ++standard) {
        struct stat st {};
        if (standard != fd && fstat(standard, &st) == 0 && S_ISCHR(st.st_mode) &&
            st.st_rdev == port.st_rdev) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::unique_ptr<PosixDevice> OpenSerialPort(const std::string& path, OpenFailure* failure,
                                            std::optional<dev_t> locked) {
    int fd = -1;
    LockFileClaim claim;
    const auto fail = [&](int error) -> std::unique_ptr<PosixDevice> {
        if (fd >= 0) {
            close(fd);
        }
        ReleaseLockFile(claim.path);
        if (failure != nullptr) {
            failure->reason = ReasonOf(error);
            failure->message = path + ": " + Describe(failure->reason, error);
        }
        return nullptr;
    };

    // The device the caller locked: a link that names another one now would lead to a port that
    // another update may hold the lock of, between its own close and reopen. Looked at before the
    // open, so that such a port is not even opened, and after it, on what was opened.
    const auto elsewhere = [&](const struct stat& st) {
        if (!locked || !S_ISCHR(st.st_mode) || st.st_rdev == *locked) {
            return false;
        }
        if (failure != nullptr) {
            failure->reason = OpenError::kFailed;
            failure->message = path + ": now leads to another device (" + CharKey(st.st_rdev) +
                               ") than the one locked for this update (" + CharKey(*locked) + ")";
        }
        return true;
    };
    struct stat named {};
    const bool there = stat(path.c_str(), &named) == 0;
    if (there && elsewhere(named)) {
        return nullptr;
    }
    if (const char* what = there && S_ISCHR(named.st_mode) ? NotAPlcPort(named.st_rdev) : nullptr;
        what != nullptr) {
        if (failure != nullptr) {
            failure->reason = OpenError::kFailed;
            failure->message = path + ": " + what + ", not a PLC's port";
        }
        return nullptr;
    }
    // O_NONBLOCK: without it a modem port waits in open() for carrier.
    fd = RetryOnEintr(
        [&] { return open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK); });
    if (fd < 0) {
        const int error = errno;
        fail(error);
        // Refused by another program's TIOCEXCL: any other process with the device open may be it.
        if (error == EBUSY && there && S_ISCHR(named.st_mode) && failure != nullptr) {
            failure->message = Busy(path, OpenedBy(named.st_rdev));
        }
        return nullptr;
    }
    if (struct stat opened{}; fstat(fd, &opened) == 0 && elsewhere(opened)) {
        close(fd);
        return nullptr;
    }
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        return fail(errno);
    }
    if (OwnTerminal(fd)) {
        close(fd);
        if (failure != nullptr) {
            failure->reason = OpenError::kFailed;
            failure->message = path + ": this program's own terminal, not a PLC's port";
        }
        return nullptr;
    }
    // A terminal someone works at (a tmux pane, a login's line) is no PLC's port either. TIOCGSID
    // on a tty answers only the session's own members, so the processes are asked instead.
    struct stat tty {};
    if (const pid_t session =
            fstat(fd, &tty) == 0 && S_ISCHR(tty.st_mode) ? TerminalSession(tty.st_rdev) : 0;
        session != 0) {
        close(fd);
        if (failure != nullptr) {
            failure->reason = OpenError::kFailed;
            failure->message = path + ": the terminal of session " + std::to_string(session) +
                               ", not a PLC's port";
        }
        return nullptr;
    }
    // The lock comes before any change, so that a port held elsewhere keeps its holder's settings.
    // TIOCEXCL does not stop root; the lock does, and it also stops a second open of ours.
    if (RetryOnEintr([&] { return flock(fd, LOCK_EX | LOCK_NB); }) != 0 && errno == EWOULDBLOCK) {
        struct stat node {};
        const PortHolder holder =
            failure != nullptr && fstat(fd, &node) == 0 ? FlockedBy(node) : PortHolder{};
        fail(EBUSY);
        if (failure != nullptr) {
            failure->message = Busy(path, holder);
        }
        return nullptr;
    }
    // The kernel's name of the tty: /dev/serial/by-id and other links resolve to it.
    std::error_code ec;
    const std::string name = std::filesystem::canonical(path, ec).filename().string();
    if (!ec) {
        claim = ClaimLockFile(kLockFileDirectory, name);
    }
    if (claim.holder != 0) {
        const std::string program = ProgramName(claim.holder);
        const std::string by =
            (program.empty() ? "" : program + ", ") +
            (claim.holder > 0 ? "process " + std::to_string(claim.holder) + ", " : "");
        fail(EBUSY);
        if (failure != nullptr) {
            failure->message = path + ": in use by another program (" + by + "lock file " +
                               kLockFileDirectory + "/LCK.." + name + ")";
        }
        return nullptr;
    }
    // Another process with the device open, by any node, shares its input: a reply it reads is
    // lost to the update, which then repeats a request the controller already carried out (an
    // erase step taken twice erases past the image). Root's open passes another program's
    // TIOCEXCL, and a prober that sets neither the flag nor a lock (opening the node the moment
    // it appears) is seen only here, after the lock file that names a terminal program better.
    // A pseudo-terminal's far end is a program, and a bridge (a TCP serial server's) keeps the
    // slave open so that its master reads no hang-up: there only a holder that set the flag
    // refuses the port. The flag alone may be stale (on a pty slave it outlives a holder killed
    // before it cleared it): it is the holder that refuses the port.
    bool pty = false;
    if (struct stat device{}; fstat(fd, &device) == 0) {
        const unsigned kind = major(device.st_rdev);
        pty = kind >= kPtySlaveMajor && kind < kPtySlaveMajor + kPtySlaveMajors;
        int exclusive = 0;
        if (!pty || (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)) {
            if (const PortHolder holder = OpenedBy(device.st_rdev); holder.pid > 0) {
                fail(EBUSY);
                if (failure != nullptr) {
                    failure->message = Busy(path, holder);
                }
                return nullptr;
            }
        }
    }
    ioctl(fd, TIOCEXCL);
    MakeRaw(t);
    if (RetryOnEintr([&] { return tcsetattr(fd, TCSANOW, &t); }) != 0) {
        return fail(errno);
    }
    // Whatever arrived before we owned the port belongs to nobody.
    tcflush(fd, TCIOFLUSH);
    std::unique_ptr<PosixDevice> device(new PosixDevice(fd, path, t));
    device->lockFile_ = claim.path;
    device->pseudoTerminal_ = pty;
    const char* sysRoot = std::getenv("FWBURN_SYSFS_ROOT");
    const std::optional<uint32_t> adapter =
        ec ? std::nullopt
           : UsbSerialLatencyMs(sysRoot != nullptr && *sysRoot != '\0' ? sysRoot : "/sys", name);
    device->readLatencyMs_ = adapter.value_or(0);
    device->SetWireTiming(WireTimingOverride(std::getenv("FWBURN_WIRE_TIMING"))
                              .value_or(PortHasWire(fd, adapter.has_value())));
    return device;
}

PosixDevice::PosixDevice(int fd, std::string path, const termios& requested)
    : fd_(fd), path_(std::move(path)), requested_(requested) {
    wire_.SetLine(requested_);
    tcgetattr(fd_, &held_);
}

namespace {

bool SameTermios(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

}  // namespace

// Root passes TIOCEXCL: `stty -F PORT 9600` under a transfer would leave every block after it on
// the wrong rate (or echoed, or held for a line end), repeated until the update fails. Set back
// at once, not after the output drains: a flow control turned on under the update (`crtscts`
// with CTS low, `ixon` after an XOFF) would hold that drain for ever, past every time-out.
void PosixDevice::KeepLine() {
    termios now{};
    if (tcgetattr(fd_, &now) != 0 || SameTermios(now, held_)) {
        return;
    }
    if (RetryOnEintr([&] { return tcsetattr(fd_, TCSANOW, &requested_); }) == 0) {
        ++lineRestored_;
        tcgetattr(fd_, &held_);
        SetModemLine(fd_, TIOCM_DTR, dtr_ == kControlEnabled);
        if (rts_ != kControlHandshake) {
            SetModemLine(fd_, TIOCM_RTS, rts_ == kControlEnabled);
        }
    }
}

PosixDevice::~PosixDevice() {
    // The exclusive flag lives with the tty, not with our descriptor: a pseudo-terminal's outlives
    // the close while its master stays open.
    ioctl(fd_, TIOCNXCL);
    close(fd_);  // also drops the flock; never retried, Linux frees the descriptor even on EINTR
    ReleaseLockFile();
}

void PosixDevice::ReleaseLockFile() {
    posix::ReleaseLockFile(lockFile_);
    lockFile_.clear();
}

uint32_t PosixDevice::Write(const uint8_t* data, uint32_t length) {
    KeepLine();
    std::optional<Clock::time_point> deadline;
    if (timeouts_.writeTotalMultiplier != 0 || timeouts_.writeTotalConstant != 0) {
        deadline = Clock::now() + Millis(uint64_t{timeouts_.writeTotalMultiplier} * length +
                                         timeouts_.writeTotalConstant);
    }
    const Clock::time_point start = Clock::now();
    uint32_t count = 0;
    while (count < length && !writingStopped_.load(std::memory_order_relaxed)) {
        const Clock::time_point writeAt = Clock::now();
        const ssize_t n = write(fd_, data + count, length - count);
        if (n > 0) {
            count += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            break;
        }
        // As in Read: only an attempt that began at the deadline or after it gives up.
        if ((deadline && writeAt >= *deadline) ||
            !Await(fd_, POLLOUT, deadline ? MsUntil(*deadline) : -1)) {
            break;
        }
    }
    wire_.Wrote(start, count);
    return count;
}

uint32_t PosixDevice::Read(uint8_t* buffer, uint32_t length) {
    const ReadPlan plan = PlanRead(timeouts_, length);
    const Clock::time_point start = Clock::now();
    Clock::time_point lastByte = start;
    uint32_t count = 0;
    bool hungUp = false;
    while (count < length) {
        const Clock::time_point readAt = Clock::now();
        // With VMIN and VTIME 0 an empty line reads as 0 bytes, not as EAGAIN.
        const ssize_t n = read(fd_, buffer + count, length - count);
        if (n > 0 && wireTiming_ && Clock::now() < wire_.EarliestReply()) {
            // All of it was there before the request could have reached the far end. A byte read
            // later than that is kept: its arrival time is no longer known.
            staleDropped_ += static_cast<uint64_t>(n);
            continue;
        }
        if (n > 0) {
            count += static_cast<uint32_t>(n);
            lastByte = Clock::now();
            if (plan.returnOnAny) {
                break;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if ((n < 0 && errno != EAGAIN) || hungUp || plan.immediate) {
            // EIO: unplugged, or the far end of a pseudo-terminal closed
            hungUp_ = hungUp_ || hungUp || (n < 0 && errno == EIO);
            break;
        }
        std::optional<Clock::time_point> deadline;
        if (plan.total) {
            deadline = start + *plan.total;
        }
        if (plan.interval && count > 0) {
            const Clock::time_point gapEnd = lastByte + *plan.interval;
            deadline = deadline ? std::min(*deadline, gapEnd) : gapEnd;
        }
        // Only a read that began at the deadline or after it ends the wait: a reader descheduled
        // between an empty read and this point would otherwise miss bytes that came in time.
        if (deadline && readAt >= *deadline) {
            break;
        }
        // After a hang-up, one more read takes what was still buffered.
        hungUp = !Await(fd_, POLLIN, deadline ? MsUntil(*deadline) : -1);
    }
    return count;
}

bool PosixDevice::GetLineSettings(LineSettings& settings) {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) {
        return false;
    }
    settings = LineSettingsOf(t);
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) == 0) {
        settings.dtrControl = (lines & TIOCM_DTR) != 0 ? kControlEnabled : kControlDisabled;
        if (settings.rtsControl != kControlHandshake) {
            settings.rtsControl = (lines & TIOCM_RTS) != 0 ? kControlEnabled : kControlDisabled;
        }
    } else {
        settings.dtrControl = dtr_;
        if (settings.rtsControl != kControlHandshake) {
            settings.rtsControl = rts_;
        }
    }
    return true;
}

bool PosixDevice::SetLineSettings(const LineSettings& settings) {
    termios before{};
    if (tcgetattr(fd_, &before) != 0) {
        return false;
    }
    termios t = before;
    if (!ApplyLineSettings(settings, t)) {
        return false;
    }
    if (RetryOnEintr([&] { return tcsetattr(fd_, TCSADRAIN, &t); }) != 0) {
        return false;
    }
    // tcsetattr() succeeds when the driver took any part of it: what it made of the rest shows
    // only in what it holds now. A line other than the one asked for is refused as an unknown
    // rate is, not run on in silence.
    if (termios held{}; tcgetattr(fd_, &held) == 0 && !LineTaken(t, held, !pseudoTerminal_)) {
        RetryOnEintr([&] { return tcsetattr(fd_, TCSANOW, &before); });
        tcgetattr(fd_, &held_);
        return false;
    }
    requested_ = t;
    tcgetattr(fd_, &held_);
    wire_.SetLine(t);
    if (modemLinesKept_) {
        return true;
    }
    // After the baud change: leaving B0 raises DTR and RTS again on some drivers.
    bool linesSet = SetModemLine(fd_, TIOCM_DTR, settings.dtrControl == kControlEnabled);
    if (settings.rtsControl != kControlHandshake) {
        linesSet = SetModemLine(fd_, TIOCM_RTS, settings.rtsControl == kControlEnabled) && linesSet;
    }
    dtr_ = settings.dtrControl;
    rts_ = settings.rtsControl;
    return linesSet;
}

bool PosixDevice::SetTimeouts(const Timeouts& timeouts) {
    timeouts_ = timeouts;
    return true;
}

uint32_t PosixDevice::DiscardInput() {
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0 || waiting < 0) {
        waiting = 0;
    }
    tcflush(fd_, TCIFLUSH);
    return static_cast<uint32_t>(waiting);
}

}  // namespace fwburn::posix

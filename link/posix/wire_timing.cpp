#include "link/posix/wire_timing.hpp"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "link/posix/discovery.hpp"

namespace fwburn::posix {

namespace {

// A baud clock off by up to 5 % (USB-serial adapters and fractional dividers are) still never
// puts a genuine reply before the bound.
constexpr int64_t kMarginPercent = 5;

uint32_t BaudOf(speed_t speed) {
    switch (speed) {
        case B300:
            return 300;
        case B600:
            return 600;
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        case B460800:
            return 460800;
        case B921600:
            return 921600;
        default:
            return 0;
    }
}

}  // namespace

void WireClock::SetLine(const termios& t) {
    baud_ = BaudOf(cfgetospeed(&t));
    const tcflag_t size = t.c_cflag & CSIZE;
    const uint32_t data = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    bitsPerByte_ =
        1 + data + ((t.c_cflag & PARENB) != 0 ? 1 : 0) + ((t.c_cflag & CSTOPB) != 0 ? 2 : 1);
}

WireClock::Clock::duration WireClock::WireTime(uint32_t length) const {
    if (baud_ == 0) {
        return Clock::duration::zero();
    }
    const int64_t us =
        int64_t{length} * bitsPerByte_ * 1000000 * (100 - kMarginPercent) / (int64_t{baud_} * 100);
    return std::chrono::microseconds(us);
}

void WireClock::Wrote(Clock::time_point start, uint32_t length) {
    if (baud_ == 0) {
        lineFree_ = Clock::time_point{};
        return;
    }
    lineFree_ = std::max(lineFree_, start) + WireTime(length);
}

std::optional<uint32_t> UsbSerialLatencyMs(const std::string& sysRoot, const std::string& name) {
    namespace fs = std::filesystem;
    constexpr uint32_t kFtdiDefaultMs = 16;
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        return std::nullopt;
    }
    const fs::path device = fs::path(sysRoot) / "class" / "tty" / name / "device";
    std::error_code ec;
    const fs::path subsystem = fs::read_symlink(device / "subsystem", ec);
    if (ec || subsystem.filename() != "usb-serial") {
        return std::nullopt;
    }
    const std::optional<std::string> latency = ReadSysfsAttribute(device / "latency_timer");
    char* end = nullptr;
    const long ms = latency ? std::strtol(latency->c_str(), &end, 10) : -1;
    if (latency && end != latency->c_str() && ms >= 0 && ms <= 255) {
        return static_cast<uint32_t>(ms);
    }
    return kFtdiDefaultMs;
}

bool PortHasWire(int fd, bool usbSerial) {
    if (usbSerial) {
        return true;
    }
    serial_struct s;
    std::memset(&s, 0, sizeof s);
    return ioctl(fd, TIOCGSERIAL, &s) == 0 && s.type != PORT_UNKNOWN;
}

std::optional<bool> WireTimingOverride(const char* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    if (std::strcmp(value, "on") == 0) {
        return true;
    }
    if (std::strcmp(value, "off") == 0) {
        return false;
    }
    return std::nullopt;
}

}  // namespace fwburn::posix

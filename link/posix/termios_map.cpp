#include "link/posix/termios_map.hpp"

#include <iterator>

namespace fwburn::posix {

namespace {

struct BaudSpeed {
    uint32_t baud;
    speed_t speed;
};

constexpr BaudSpeed kSpeeds[] = {
    {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},   {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600}, {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

}  // namespace

std::optional<speed_t> SpeedForBaud(uint32_t baudRate) {
    for (const BaudSpeed& s : kSpeeds) {
        if (s.baud == baudRate) {
            return s.speed;
        }
    }
    return std::nullopt;
}

std::optional<uint32_t> BaudForSpeed(speed_t speed) {
    for (const BaudSpeed& s : kSpeeds) {
        if (s.speed == speed) {
            return s.baud;
        }
    }
    return std::nullopt;
}

void MakeRaw(termios& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    // Reads return what is there at once; the device enforces its time-outs with poll().
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

bool ApplyLineSettings(const LineSettings& settings, termios& t) {
    const std::optional<speed_t> speed = SpeedForBaud(settings.baudRate);
    if (!speed) {
        return false;
    }
    tcflag_t size = 0;
    switch (settings.byteSize) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return false;
    }
    tcflag_t parity = 0;
    switch (settings.parity) {
        case kNoParity:
            break;
        case kOddParity:
            parity = PARENB | PARODD;
            break;
        case kEvenParity:
            parity = PARENB;
            break;
        default:
            return false;  // mark and space need CMSPAR, which no Korvan link uses
    }
    tcflag_t stop = 0;
    switch (settings.stopBits) {
        case kOneStopBit:
            break;
        case kTwoStopBits:
            stop = CSTOPB;
            break;
        default:
            return false;  // termios has no 1.5 stop bits
    }
    if (settings.dtrControl > kControlEnabled) {
        return false;  // no DTR handshake in termios
    }
    tcflag_t flow = 0;
    switch (settings.rtsControl) {
        case kControlDisabled:
        case kControlEnabled:
            break;
        case kControlHandshake:
            flow = CRTSCTS;
            break;
        default:
            return false;  // RTS toggle is a Win32 driver feature
    }

    termios next = t;
    next.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    // Left over from another program, it would turn even parity into space parity.
    next.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    next.c_cflag |= size | parity | stop | flow;
    if (cfsetispeed(&next, *speed) != 0 || cfsetospeed(&next, *speed) != 0) {
        return false;
    }
    t = next;
    return true;
}

bool LineTaken(const termios& asked, const termios& held, bool framingKept) {
    constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
    return cfgetospeed(&asked) == cfgetospeed(&held) && cfgetispeed(&asked) == cfgetispeed(&held) &&
           (!framingKept || (asked.c_cflag & kFraming) == (held.c_cflag & kFraming));
}

LineSettings LineSettingsOf(const termios& t) {
    LineSettings s;
    s.baudRate = BaudForSpeed(cfgetospeed(&t)).value_or(0);
    switch (t.c_cflag & CSIZE) {
        case CS5:
            s.byteSize = 5;
            break;
        case CS6:
            s.byteSize = 6;
            break;
        case CS7:
            s.byteSize = 7;
            break;
        default:
            s.byteSize = 8;
            break;
    }
    if ((t.c_cflag & PARENB) == 0) {
        s.parity = kNoParity;
    } else {
        s.parity = (t.c_cflag & PARODD) != 0 ? kOddParity : kEvenParity;
    }
    s.stopBits = (t.c_cflag & CSTOPB) != 0 ? kTwoStopBits : kOneStopBit;
    s.rtsControl = (t.c_cflag & CRTSCTS) != 0 ? kControlHandshake : kControlDisabled;
    return s;
}

}  // namespace fwburn::posix

#include "link/posix/termios_map.hpp"

#include <gtest/gtest.h>

namespace fwburn::posix {
namespace {

constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;

TEST(TermiosMap, SettingsBecomeFlagsAndReadBack) {
    struct Case {
        LineSettings line;
        speed_t speed;
        tcflag_t framing;
    };
    const Case cases[] = {
        {{9600, 7, kEvenParity, kOneStopBit, 0, 0}, B9600, CS7 | PARENB},
        {{115200, 8, kNoParity, kOneStopBit, 0, 0}, B115200, CS8},
        {{19200, 8, kOddParity, kTwoStopBits, 0, 0}, B19200, CS8 | PARENB | PARODD | CSTOPB},
        {{57600, 5, kNoParity, kOneStopBit, 0, kControlHandshake}, B57600, CS5 | CRTSCTS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.baudRate);
        // Start from the opposite framing, with a flag the mapping must leave alone.
        termios t{};
        t.c_cflag = CS6 | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL;
        ASSERT_TRUE(ApplyLineSettings(c.line, t));
        EXPECT_EQ(t.c_cflag & kFraming, c.framing);
        EXPECT_NE(t.c_cflag & HUPCL, 0u);
        EXPECT_EQ(cfgetispeed(&t), c.speed);
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(LineSettingsOf(t), c.line);
    }
}

TEST(TermiosMap, LeftoverMarkOrSpaceParityIsCleared) {
    termios t{};
    t.c_cflag = CS8 | PARENB | CMSPAR;
    ASSERT_TRUE(ApplyLineSettings({9600, 7, kEvenParity, kOneStopBit, 0, 0}, t));
    EXPECT_EQ(t.c_cflag & CMSPAR, 0u);
}

TEST(TermiosMap, WhatTheLineCannotDoIsRefusedAndChangesNothing) {
    const LineSettings refused[] = {
        {12345, 8, kNoParity, kOneStopBit, 0, 0},  // no such baud rate
        {0, 8, kNoParity, kOneStopBit, 0, 0},      // B0 would hang up the line
        {9600, 9, kNoParity, kOneStopBit, 0, 0},
        {9600, 4, kNoParity, kOneStopBit, 0, 0},
        {9600, 8, 3, kOneStopBit, 0, 0},  // mark
        {9600, 8, kNoParity, 1, 0, 0},    // one and a half
        {9600, 8, kNoParity, kOneStopBit, kControlHandshake, 0},
        {9600, 8, kNoParity, kOneStopBit, 0, 3},  // RTS toggle
    };
    for (const LineSettings& line : refused) {
        termios t{};
        t.c_cflag = CS8 | HUPCL;
        cfsetspeed(&t, B38400);
        const termios before = t;
        EXPECT_FALSE(ApplyLineSettings(line, t));
        EXPECT_EQ(t.c_cflag, before.c_cflag);
        EXPECT_EQ(cfgetospeed(&t), B38400);
    }
}

// What a driver made of a setting, read back, where the port keeps framing (not a pseudo-terminal):
// 8 bits where 7 with parity were asked, as a bridge chip that has only 8 does. Another rate is
// refused through the device itself (PosixDeviceTest).
TEST(TermiosMap, ALineTheDriverDidNotMakeIsNotTaken) {
    struct Case {
        const char* name;
        tcflag_t heldFraming;
        bool framingKept;
        bool taken;
    };
    const Case cases[] = {
        {"as asked", CS7 | PARENB, true, true},
        {"8 bits without parity", CS8, true, false},
        {"8 bits without parity on a pseudo-terminal", CS8, false, true},
    };
    termios asked{};
    asked.c_cflag = HUPCL;
    ASSERT_TRUE(ApplyLineSettings({9600, 7, kEvenParity, kOneStopBit, 0, 0}, asked));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        termios held = asked;
        held.c_cflag = (held.c_cflag & ~kFraming) | c.heldFraming;
        EXPECT_EQ(LineTaken(asked, held, c.framingKept), c.taken);
    }
}

}  // namespace
}  // namespace fwburn::posix

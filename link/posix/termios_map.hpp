// Translation between the seam's line settings and termios flags, kept free of any descriptor so
// that both directions can be checked without a port.
#pragma once

#include <termios.h>

#include <optional>

#include "link/device.hpp"

namespace fwburn::posix {

std::optional<speed_t> SpeedForBaud(uint32_t baudRate);
std::optional<uint32_t> BaudForSpeed(speed_t speed);

// Raw byte transport: 8 data bits without parity, no echo, no signals, no CR/LF translation, no
// software or hardware flow control, receiver on, modem status ignored; a read never blocks in
// the line discipline. Baud rate and stop bits stay as they were.
void MakeRaw(termios& t);

// Writes baud, framing and RTS handshake into `t` and leaves every other flag as it was. Returns
// false, with `t` untouched, for anything the line cannot do (an unknown baud rate, 1.5 stop bits,
// DTR handshake, RTS toggle).
bool ApplyLineSettings(const LineSettings& settings, termios& t);

// Whether the kernel took the line `asked` asks for, as `held` (read back after the setting) shows.
// A driver answers a rate or framing it cannot make with another, and the setting succeeds all the
// same: a UART's keeps its old rate for one beyond its clock, a bridge chip's keeps 8 data bits. On
// a pseudo-terminal (`framingKept` false), which always holds 8 bits without parity, only the rate
// counts.
bool LineTaken(const termios& asked, const termios& held, bool framingKept);

// Baud, framing and RTS handshake as `t` holds them; DTR and RTS levels come from the modem lines,
// which termios does not carry, so the caller fills those in. An unknown speed reads as baud 0.
LineSettings LineSettingsOf(const termios& t);

// Win32 line-control values of the seam.
constexpr uint8_t kOddParity = 1;
constexpr uint8_t kTwoStopBits = 2;
constexpr uint8_t kControlEnabled = 1;
constexpr uint8_t kControlHandshake = 2;

}  // namespace fwburn::posix

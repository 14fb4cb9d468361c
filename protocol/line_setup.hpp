// Line settings and time-out sets of application mode.
#pragma once

#include "link/device.hpp"

namespace fwburn {

// DummyComm's wake frames: 200 ms for a read and a write.
extern const Timeouts kWakeTimeouts;
// Every other command, in both modes: 3000 ms for a read and a write.
extern const Timeouts kCommandTimeouts;

// 9600 baud, 7 data bits, even parity, 1 stop bit, DTR and RTS control off.
extern const LineSettings kApplicationLine;
// 115200 baud, 8 data bits, no parity, 1 stop bit, DTR and RTS control off.
extern const LineSettings kTransferLine;

// Reads the port's settings, puts `wanted` over the fields the updater owns and writes them back.
// The results are not examined: the exchange goes on with whatever the handle has.
void ChangeLineSettings(Device& device, const LineSettings& wanted);

// Start of DummyComm and ConfirmComm: the application-mode line when `row`'s model is
// serial-linked (a USB device gets none), then the time-outs on every handle.
void ApplyLineSetup(Device& device, int row, const Timeouts& timeouts);

}  // namespace fwburn

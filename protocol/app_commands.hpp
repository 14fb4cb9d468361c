// Application-mode commands: model check, variant registers, bootloader version, update request.
// Each sets the 3000 ms command time-outs, runs the two-counter retry rule and returns a code;
// none shows a message.
#pragma once

#include <cstdint>

#include "link/device.hpp"

namespace fwburn {

// 0 when the controller reports the selected model's ID; else 18, 19, 21, 23 or 24.
uint8_t CheckID_A(Device& device);

// Register values, high byte first; 0 when no acceptable reply came, the same value a register
// holding 0 gives. The second form also tells the two apart: `answered` is true only when a reply
// was accepted.
uint16_t READ_D1386(Device& device);
uint16_t READ_D1386(Device& device, bool& answered);
uint16_t READ_D1148(Device& device);
uint16_t READ_D1148(Device& device, bool& answered);

// Bootloader version as reported (major in the high nibble); 0 when no acceptable reply came.
// Works on hSerial.
uint8_t read_fu_version_A();

// 0 when the controller accepted the update request; else 19, 20, 21, 23 or 24.
uint8_t SendErase_A(Device& device);

}  // namespace fwburn

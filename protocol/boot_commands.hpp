// Bootloader commands. Each returns 0, or kBootFailure (16) when its retry budget ran out; none
// shows a message.
#pragma once

#include <cstdint>

#include "link/device.hpp"

namespace fwburn {

// "ID": the reply ID must pass the build profile's boot-mode ID rule for the selected model.
uint8_t CheckID_B(Device& device);

// "VERSION" on hSerial; on success ZL_fu_version = major (low nibble) << 4 | minor.
uint8_t read_fu_version_B();

// "ERASE" steps (count by model and image length), then EOT. Moves flashStatus to 1 and progress
// from 0 to 100.
uint8_t SendErase_B(Device& device);

// "UPDATE"; on success the line goes to 115200 baud, 8 data bits, no parity, 1 stop bit.
uint8_t SendUpdate(Device& device);

}  // namespace fwburn

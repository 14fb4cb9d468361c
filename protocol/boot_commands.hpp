// Bootloader commands. Each returns 0, or kBootFailure (16) when its retry budget ran out; none
// shows a message.
#pragma once

#include <cstdint>

#include "catalogue/catalogue.hpp"
#include "protocol/channel.hpp"

namespace fwburn {

// "ID": the reply ID must pass the build profile's boot-mode ID `rule` for `row`'s model.
uint8_t CheckID_B(Channel& channel, BootIdRule rule, int row);
// The same exchange; `received` is set when an ACK reply came, and `id` is the ID the last one
// carried.
uint8_t CheckID_B(Channel& channel, BootIdRule rule, int row, uint16_t& id, bool& received);

// "VERSION"; on success `version` = major (low nibble of the first byte) << 4 | minor.
uint8_t read_fu_version_B(Channel& channel, uint8_t& version);

// "ERASE" steps (count by model and image length), then EOT. Begins the erase phase and
// advances it step by step, its percentage from 0 to 100.
uint8_t SendErase_B(Channel& channel, int row, uint32_t imageLength);

// "UPDATE"; on success the line goes to 115200 baud, 8 data bits, no parity, 1 stop bit.
uint8_t SendUpdate(Channel& channel);

}  // namespace fwburn

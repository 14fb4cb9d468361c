// Application-mode commands: model check, variant registers, bootloader version, update request.
// Each sets the 3000 ms command time-outs, runs the two-counter retry rule and returns a code;
// none shows a message.
#pragma once

#include <cstdint>

#include "protocol/channel.hpp"

namespace fwburn {

// 0 when the controller reports the ID of `row`'s model; else 18, 19, 21, 23 or 24.
uint8_t CheckID_A(Channel& channel, int row);
// The same exchange; `received` is set when a reply passed its LRC with an ACK, and `id` is the
// ID the last such reply carried: what a controller of another model answered.
uint8_t CheckID_A(Channel& channel, int row, uint16_t& id, bool& received);
// The model-ID query with `row`'s target byte, taking whatever ID comes: 0 and the ID, or the
// failure codes of CheckID_A. For a probe that must not decide on the model.
uint8_t ReadModelId_A(Channel& channel, int row, uint16_t& id);

// Register values, high byte first; 0 when no acceptable reply came, the same value a register
// holding 0 gives. The second form also tells the two apart: `answered` is true only when a reply
// was accepted.
uint16_t READ_D1386(Channel& channel);
uint16_t READ_D1386(Channel& channel, bool& answered);
uint16_t READ_D1148(Channel& channel);
uint16_t READ_D1148(Channel& channel, bool& answered);

// Bootloader version as reported (major in the high nibble); 0 when no acceptable reply came.
// The second form tells that apart from a reply of 0: `answered` is true only when one came.
uint8_t read_fu_version_A(Channel& channel);
uint8_t read_fu_version_A(Channel& channel, bool& answered);

// 0 when the controller accepted the update request (sent with `row`'s target byte); else 19,
// 20, 21, 23 or 24.
uint8_t SendErase_A(Channel& channel, int row);

}  // namespace fwburn

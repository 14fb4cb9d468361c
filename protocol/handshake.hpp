// The start of every pass: wake the link, then ask the controller which firmware it runs.
#pragma once

#include <cstdint>

#include "protocol/channel.hpp"

namespace fwburn {

// Sets the line up for `row`'s model and exchanges throw-away wake frames. Never fails, touches
// no counter.
void DummyComm(Channel& channel, int row);

// Mode query: kApplicationMode (5), kBootMode (6), or a failure code 17, 18, 21, 22, 23 or 24.
uint8_t ConfirmComm(Channel& channel, int row);

}  // namespace fwburn

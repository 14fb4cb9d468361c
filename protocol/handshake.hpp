// The start of every pass: wake the link, then ask the controller which firmware it runs.
#pragma once

#include <cstdint>

#include "link/device.hpp"

namespace fwburn {

// Sets the line up and exchanges throw-away wake frames. Never fails, touches no counter.
void DummyComm(Device& device);

// Mode query: kApplicationMode (5), kBootMode (6), or a failure code 17, 18, 21, 22, 23 or 24.
uint8_t ConfirmComm(Device& device);

}  // namespace fwburn

// What every command talks through: the update's open device, and the progress its exchanges
// move (the retry counters, the phase and its steps).
#pragma once

#include "link/device.hpp"
#include "protocol/progress.hpp"

namespace fwburn {

struct Channel {
    Device& device;
    Progress& progress;
    // A boot-mode read came back short: the rest of that reply may still come, after later
    // requests, where a one-byte ACK carries nothing to tell whose it is.
    bool replyOutstanding = false;
};

}  // namespace fwburn

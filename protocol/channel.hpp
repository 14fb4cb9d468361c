// What every command talks through: the update's open device, and the progress its exchanges
// move (the retry counters, the phase and its steps).
#pragma once

#include "link/device.hpp"
#include "protocol/progress.hpp"

namespace fwburn {

struct Channel {
    Device& device;
    Progress& progress;
};

}  // namespace fwburn

// The system kept from sleeping while an update runs: a machine that suspends mid-transfer leaves
// the controller erased in its bootloader. Asked of systemd-logind on the system bus.
#pragma once

#include <memory>
#include <string>

#include "ui/console/session/host.hpp"

namespace fwburn::console {

// logind's "sleep" lock in "block" mode for `who`, held until Release() or the process ends;
// nullptr where there is no bus, no logind or no permission, after a moment at most: the update
// goes on without it.
std::unique_ptr<HeldLock> InhibitSleep(const std::string& who);

}  // namespace fwburn::console

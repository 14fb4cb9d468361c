// Opening the controller's USB link: it shows up as a USB modem tty.
#pragma once

#include <memory>
#include <string>

#include "link/posix/posix_device.hpp"

namespace fwburn::posix {

// Opens the first of the controller's ttys (FindUsbControllerTtys) that opens; one held by another
// program is passed over. Null when none was found or none opened; `failure` then gives the
// reason of the last one tried, or kMissing when there was none.
std::unique_ptr<PosixDevice> OpenUsbController(OpenFailure* failure = nullptr,
                                               const std::string& sysRoot = "/sys",
                                               const std::string& devRoot = "/dev");

}  // namespace fwburn::posix

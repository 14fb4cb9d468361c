// Finding the ports a controller can be reached through, from sysfs and the /dev tree. Both roots
// are parameters so that a test can hand in a tree of its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace fwburn::posix {

// The controller's USB device, as sysfs writes its ids.
constexpr char kControllerVendorId[] = "3b9e";
constexpr char kControllerProductId[] = "0001";

// Every serial port present, as /dev paths, sorted by text and without repeats: the targets of
// the /dev/serial/by-id links, and the entries of <sys>/class/tty that are real ports. A tty
// counts as real when
//   - it has a `device` link (virtual consoles, console, ptmx and tty have none), and
//   - it is not a UART the kernel reserved but never found: serial-core ports show the probed
//     UART kind in `type`, and 0 (unknown) marks a slot with no chip behind it, such as the
//     ghost ttyS1 to ttyS31 of the 8250 driver;
// and its /dev node exists, so that everything listed can at least be tried.
std::vector<std::string> ListSerialPorts(const std::string& sysRoot = "/sys",
                                         const std::string& devRoot = "/dev");

// The ttys of the controller's USB link, as /dev paths sorted by text: those whose nearest USB
// device, walking up from <sys>/class/tty/<name>/device, has the controller's vendor and product
// id. Hubs further up never count.
std::vector<std::string> FindUsbControllerTtys(const std::string& sysRoot = "/sys",
                                               const std::string& devRoot = "/dev");

// The first of them, if any.
std::optional<std::string> FindUsbControllerTty(const std::string& sysRoot = "/sys",
                                                const std::string& devRoot = "/dev");

}  // namespace fwburn::posix

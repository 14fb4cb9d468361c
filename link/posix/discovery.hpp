// Finding the ports a controller can be reached through, from sysfs and the /dev tree. Both roots
// are parameters so that a test can hand in a tree of its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/usb_port.hpp"

namespace fwburn::posix {

using fwburn::kControllerProductId;
using fwburn::kControllerVendorId;
// A tty whose nearest USB device sysfs knows: `physical` is the device's sysfs name, e.g. "1-1.2".
using fwburn::UsbPort;

// The first line of the sysfs attribute `file`, without its line end; nullopt when it cannot be
// read, is empty, or is no regular file.
std::optional<std::string> ReadSysfsAttribute(const std::string& file);

// Every serial port present, as /dev paths, sorted by text and without repeats: the targets of
// the /dev/serial/by-id links, and the entries of <sys>/class/tty that are real ports. A tty
// counts as real when
//   - it has a `device` link (virtual consoles, console, ptmx and tty have none), and
//   - it is not a UART the kernel reserved but never found: serial-core ports show the probed
//     UART kind in `type`, and 0 (unknown) marks a slot with no chip behind it, such as the
//     ghost ttyS1 to ttyS31 of the 8250 driver;
// and its /dev node exists, so that everything listed can at least be tried. The ttys named in
// `consoles` (the kernel's console list) are left out: frames written there would go to the
// kernel's console, and a serial model takes the first port listed when none is given.
std::vector<std::string> ListSerialPorts(const std::string& sysRoot = "/sys",
                                         const std::string& devRoot = "/dev",
                                         const std::string& consoles = "/proc/consoles");

// The ttys of the controller's USB link, as /dev paths sorted by text: those whose nearest USB
// device, walking up from <sys>/class/tty/<name>/device, has the controller's vendor and product
// id. Hubs further up never count.
std::vector<std::string> FindUsbControllerTtys(const std::string& sysRoot = "/sys",
                                               const std::string& devRoot = "/dev");

// The same ttys, with their USB details.
std::vector<UsbPort> FindUsbControllers(const std::string& sysRoot = "/sys",
                                        const std::string& devRoot = "/dev");

// The USB details of `tty`, a path to a node in `devRoot` or a link to one, when a USB device is
// above it.
std::optional<UsbPort> DescribeUsbTty(const std::string& tty, const std::string& sysRoot = "/sys",
                                      const std::string& devRoot = "/dev");

// The controller's tty now at the socket `physical`, with the serial number `serial` when that is
// not empty, on its USB interface `usbInterface` when that is not empty (a device with two ttys has
// them on two interfaces); nullopt while none is there (unplugged, or another device in that
// socket).
std::optional<std::string> FindControllerTty(const std::string& physical, const std::string& serial,
                                             const std::string& sysRoot = "/sys",
                                             const std::string& devRoot = "/dev",
                                             const std::string& usbInterface = "");

// The first of them, if any.
std::optional<std::string> FindUsbControllerTty(const std::string& sysRoot = "/sys",
                                                const std::string& devRoot = "/dev");

}  // namespace fwburn::posix

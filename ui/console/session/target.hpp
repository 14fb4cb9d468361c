// What one run of the session works on: a controller to update or to look at.
#pragma once

#include <string>

namespace fwburn::console {

struct Target {
    std::string port;      // the path given, or the tty found for it at start; empty: none found
    std::string physical;  // its USB socket ("1-1.2"); empty for a serial port or a pty
    std::string serial;    // its USB serial number, empty when it has none

    // A USB controller known by its socket and serial number: every reopen finds its tty again
    // by them, never by the name it had, which a replug may give to another controller.
    bool pinned() const { return !physical.empty(); }
    // What the person and the JSON events know it by: "usb 1-1.2 serial X", or the port.
    std::string Identity() const;
    // The short tag in front of each of its lines: the socket, or the port's short name.
    std::string Label() const;
};

}  // namespace fwburn::console

// The one policy for what a run works on and what it locks, whatever the kind of run: one
// controller, several, or a look with --info.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/usb_port.hpp"
#include "ui/console/cli/options.hpp"

namespace fwburn::console {

// What one run works on: a controller to update or to look at.
struct Target {
    std::string port;      // the path given, or the tty found for it at start; empty: none found
    std::string physical;  // its USB socket ("1-1.2"; on Windows its device instance), empty for
                           // a serial port or a pty
    std::string serial;    // its USB serial number, empty when it has none
    std::string usbInterface{};  // its tty's USB interface ("1-1.2:1.0"), which tells apart the
                                 // ttys of one device; empty where unknown
    std::string label{};         // its tag where the short one would be another port's too

    // A USB controller known by its socket and serial number: every reopen finds its tty again
    // by them, never by the name it had, which a replug may give to another controller.
    bool pinned() const { return !physical.empty(); }
    // What the person and the JSON events know it by: "usb 1-1.2 serial X", or the port.
    std::string Identity() const;
    // The short tag in front of each of its lines: the socket, or the port's short name.
    std::string Label() const;
};

// What the session asks of the machine about its ports; the host answers.
class PortFinder {
  public:
    virtual ~PortFinder() = default;
    // Every controller on the USB link now, with its socket and serial number.
    virtual std::vector<UsbPort> Controllers() = 0;
    // Every serial port present.
    virtual std::vector<std::string> SerialPorts() = 0;
    // The USB details of the device behind `port`, when there is one.
    virtual std::optional<UsbPort> Describe(const std::string& port) = 0;
    // What tells one port from another: the device it opens, however it is named (a symbolic
    // link and its target, or two nodes of one device, are one port).
    virtual std::string DeviceKey(const std::string& port) = 0;
    // What a port is locked under: the path it resolves to.
    virtual std::string LockIdentity(const std::string& port) = 0;
    // The name the system gives the port's device ("USB Serial Port (COM3)"); empty where it
    // gives none.
    virtual std::string FriendlyName(const std::string&) { return {}; }
};

struct TargetChoice {
    int exitCode = 0;   // not 0: nothing to run, `error` says why
    std::string error;  // after the program's name
    std::vector<Target> targets;
    // A USB-linked model with nothing found at start: its one run looks for any controller at
    // each open, and so keeps every other run off the link while it runs.
    bool discovering = false;
};

// The targets of the command line: each --port, every USB controller with --all, else the one
// an update would use (the first USB controller, the first serial port). A USB controller is
// pinned by its socket and serial number from here on. Two --port naming one device, or two ttys of
// one controller, are a usage error, before anything is opened or locked; --all takes each
// controller once. `look`: for --info.
TargetChoice ChooseTargets(const Options& options, bool usb, bool look, const std::string& model,
                           PortFinder& ports);

// The lock identities of one target: its port's, and a pinned controller's own.
std::vector<std::string> TargetIdentities(const Target& target, PortFinder& ports);

}  // namespace fwburn::console

#include "ui/console/session/targets.hpp"

#include <map>
#include <set>
#include <utility>

#include "ui/console/session/outcome.hpp"
#include "ui/console/show/wording.hpp"

namespace fwburn::console {

std::string Target::Identity() const {
    return physical.empty() ? port
                            : "usb " + physical + (serial.empty() ? "" : " serial " + serial);
}

std::string Target::Label() const {
    return !label.empty() ? label : physical.empty() ? ShortPortName(port) : physical;
}

namespace {

// Ports whose short names agree (two by-id names alike in their first nine characters) are
// tagged by their whole names, or their whole paths where even those agree: each line must tell
// which controller it is about.
void TellApart(std::vector<Target>& targets) {
    for (const bool whole : {false, true}) {
        std::map<std::string, int> tags;
        for (const Target& t : targets) {
            ++tags[t.Label()];
        }
        for (Target& t : targets) {
            if (tags[t.Label()] > 1 && !t.pinned()) {
                t.label = whole ? t.port : t.port.substr(t.port.find_last_of('/') + 1);
            }
        }
    }
}

// A port of the controller's USB link keeps its socket and serial number.
Target Pin(const std::string& port, bool usb, PortFinder& ports) {
    Target target{port, "", "", ""};
    if (!usb) {
        return target;
    }
    const std::optional<UsbPort> found = ports.Describe(port);
    if (found && found->vendorId == kControllerVendorId &&
        found->productId == kControllerProductId) {
        target.physical = found->physical;
        target.serial = found->serial;
        target.usbInterface = found->usbInterface;
    }
    return target;
}

TargetChoice Refuse(int code, std::string error) {
    TargetChoice choice;
    choice.exitCode = code;
    choice.error = std::move(error);
    return choice;
}

TargetChoice Choose(const Options& options, bool usb, bool look, const std::string& model,
                    PortFinder& ports) {
    const char* what = usb ? "controller on the USB link" : "serial port";
    TargetChoice choice;
    if (!options.ports.empty()) {
        std::map<std::string, std::string> seen;         // device -> the --port that named it
        std::map<std::string, std::string> controllers;  // pinned identity -> the same
        for (const std::string& port : options.ports) {
            const auto [at, fresh] = seen.emplace(ports.DeviceKey(port), port);
            if (!fresh) {
                return Refuse(kExitUsage, "--port " + at->second + " and --port " + port +
                                              " are one port: give each controller once");
            }
            choice.targets.push_back(Pin(port, usb, ports));
            // Two ttys of one USB device: the second would only find the first's lock, its own.
            const Target& target = choice.targets.back();
            if (const auto [other, first] = controllers.emplace(target.Identity(), port);
                target.pinned() && !first) {
                return Refuse(kExitUsage, "--port " + other->second + " and --port " + port +
                                              " are ttys of one controller (" + target.Identity() +
                                              "): give each controller once");
            }
        }
        TellApart(choice.targets);
        return choice;
    }
    if (options.all) {
        if (!usb) {
            return Refuse(kExitUsage, "--all finds controllers on the USB link; a " + model +
                                          " is on a serial port: give each with --port");
        }
        std::set<std::string> listed;
        for (const UsbPort& port : ports.Controllers()) {
            // A device with two ttys is one controller, updated once: through its first tty.
            if (listed.insert(port.Identity()).second) {
                choice.targets.push_back({port.tty, port.physical, port.serial, port.usbInterface});
            }
        }
        if (choice.targets.empty()) {
            return Refuse(kExitPortFailed, std::string(look ? "--info" : "--all") +
                                               ": no controller found on the USB link");
        }
        return choice;
    }
    if (usb) {
        const std::vector<UsbPort> found = ports.Controllers();
        if (!found.empty()) {
            choice.targets.push_back({found.front().tty, found.front().physical,
                                      found.front().serial, found.front().usbInterface});
            return choice;
        }
    } else if (const std::vector<std::string> found = ports.SerialPorts(); !found.empty()) {
        choice.targets.push_back({found.front(), "", "", ""});
        return choice;
    }
    if (look) {
        return Refuse(kExitPortFailed,
                      std::string("--info: no ") + what + " found (give one with --port)");
    }
    // An update goes on to its open, which fails and says so as the window does.
    choice.targets.push_back({"", "", "", ""});
    choice.discovering = usb;
    return choice;
}

}  // namespace

TargetChoice ChooseTargets(const Options& options, bool usb, bool look, const std::string& model,
                           PortFinder& ports) {
    const TargetChoice choice = Choose(options, usb, look, model, ports);
    // The record written into the port itself would reach the PLC as bytes of the transfer.
    if (choice.exitCode == 0 && !options.trace.empty()) {
        const std::string trace = ports.DeviceKey(options.trace);
        for (const Target& target : choice.targets) {
            if (!target.port.empty() && ports.DeviceKey(target.port) == trace) {
                return Refuse(kExitUsage, "--trace " + options.trace + " is the PLC's port " +
                                              target.port + ": give the record a file of its own");
            }
        }
    }
    return choice;
}

std::vector<std::string> TargetIdentities(const Target& target, PortFinder& ports) {
    std::vector<std::string> identities;
    if (!target.port.empty()) {
        identities.push_back(ports.LockIdentity(target.port));
        // Another node of the same device (mknod) has another path: the device is the port.
        if (std::string device = ports.DeviceKey(target.port); device != identities.back()) {
            identities.push_back(std::move(device));
        }
    }
    if (target.pinned()) {
        identities.push_back(target.Identity());
    }
    return identities;
}

}  // namespace fwburn::console

// The ports and controllers present, with what Windows knows of them: the window's port list and
// the console's --list-ports, its pinned controllers and its locks all read them here. Their
// texts are in the ANSI code page, as the window shows them; the console takes them to UTF-8.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace fwburn {

struct ComPortEntry {
    std::string name;          // "COM12", cut from the friendly name
    std::string friendlyName;  // "USB Serial Port (COM12)"
    std::string instance;      // its device instance, "USB\VID_3B9E&PID_0001\ZL5-0042"
};

// Every present device whose friendly name carries a port name, as the window lists them, in the
// order Windows enumerates them; nullopt when the devices cannot be enumerated.
std::optional<std::vector<ComPortEntry>> ListComPorts();

struct ControllerDevice {
    std::string instance;     // the USB device's instance: what follows it across a replug
    std::string serial;       // its serial number, empty when it has none
    std::string description;  // its friendly name or description
    std::string path;         // the interface path the window opens it by
};

// The controller's USB devices present (vendor 3b9e, product 0001), found as the window finds
// them, in enumeration order.
std::vector<ControllerDevice> ListControllers();

// Opens the controller with this device instance as the window opens its USB device (its
// interface path and "\"); INVALID_HANDLE_VALUE when it is not attached or does not open.
HANDLE OpenController(const std::string& instance);

// The USB device a port's device instance belongs to: the parent of an interface of a composite
// device, else the instance itself.
std::string DeviceOfInstance(const std::string& instance);

}  // namespace fwburn

// What a port of the controller's USB link says of itself, on any system: the front ends list
// ports and pin controllers by it, each system's discovery fills it.
#pragma once

#include <string>

namespace fwburn {

// The controller's USB device, as the systems write its ids.
constexpr char kControllerVendorId[] = "3b9e";
constexpr char kControllerProductId[] = "0001";

// A port whose nearest USB device the system knows, with what that device says of itself.
struct UsbPort {
    std::string tty;        // the path the port is opened by, which a replug may change
    std::string physical;   // what follows the device across a replug: its socket ("1-1.2") on
                            // Linux, its device instance on Windows
    std::string serial;     // empty when the device has none
    std::string product;    // the device's product string, empty when it has none
    std::string vendorId;   // lower-case hex, e.g. "3b9e"
    std::string productId;  // e.g. "0001"
    // The tty's own USB interface ("1-1.2:1.0"), named by the socket as well: it tells the ttys
    // of one device apart. Empty where unknown.
    std::string usbInterface{};

    // What follows the controller across a replug: the socket, and the serial number when the
    // device has one. Never the tty name, which may come back swapped.
    std::string Identity() const {
        return "usb " + physical + (serial.empty() ? std::string() : " serial " + serial);
    }
};

}  // namespace fwburn

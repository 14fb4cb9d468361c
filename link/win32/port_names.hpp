// The text side of the Windows link: port names cut from friendly names, the device-namespace
// name a serial port is opened by, and the USB device path checks. No platform header here, so
// the rules are tested on every platform.
#pragma once

#include <cstddef>

namespace fwburn {

constexpr size_t kPortNameSize = 10;  // 9 characters and the terminating zero
constexpr size_t kUsbPathSize = 300;
constexpr size_t kSerialPathSize = 4 + kPortNameSize;  // "\\.\" and the listed name
// Vendor and product id as the USB device path carries them, lower case.
constexpr char kControllerPathFragment[] = "vid_3b9e&pid_0001";

// Cuts the port name out of a device's friendly name: from the "COM" of its first "(COM" to just
// before the last ")" of the whole name ("USB Serial Port (COM12)" gives "COM12"). A name with no
// "(COM", with no ")" after it, or whose cut is longer than 9 characters gives false and an empty
// `out`: such a device is not listed, and nothing longer ever reaches the 10-byte port texts.
bool CutPortName(const char* friendlyName, char (&out)[kPortNameSize]);

// The file name a listed port is opened by: "\\.\" and the name. The device namespace is what
// makes COM10 and above open; without the prefix only COM1 to COM9 resolve. False (and `out`
// empty) for an empty name or one longer than 9 characters.
bool SerialDevicePath(const char* listedName, char (&out)[kSerialPathSize]);

// Whether a device path is the controller's (case-sensitive, as the driver writes it).
bool IsControllerPath(const char* devicePath);

// Copies a device path into the path buffer when it leaves room for the separator that the open
// appends and the terminator; otherwise empties the buffer and returns false, and the interface
// is treated as not matching.
bool CopyDevicePath(const char* devicePath, char (&out)[kUsbPathSize]);

// Appends "\" and `suffix` to the path in the buffer; false (the buffer unchanged) when the whole
// does not fit.
bool AppendPipeSuffix(char (&path)[kUsbPathSize], const char* suffix);

}  // namespace fwburn

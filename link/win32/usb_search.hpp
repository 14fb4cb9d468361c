// Finding the controller's USB device among the present USB device interfaces and opening it by
// its device path.
#pragma once

#include <windows.h>
// windows.h first: setupapi.h needs its types.
#include <setupapi.h>

#include "link/win32/port_names.hpp"

namespace fwburn {

// The system's interface class of USB devices; every present USB device exposes it.
extern const GUID USB_DRIVER_GUID;

// Searches the controller and opens its device path with "\" and `pipeName` appended (the worker
// passes ""). INVALID_HANDLE_VALUE when no controller is found or the open fails.
HANDLE OpenMyDevPipe(const char* pipeName);

// 1 when a controller was found and could be opened (its path is then in `path`), else 0. The
// probe handle is closed before it returns.
int GetUsbDeviceFileName(const GUID& interfaceClass, char (&path)[kUsbPathSize]);

// Opens the first interface of the class, in enumeration order, whose path is the controller's
// and that opens; INVALID_HANDLE_VALUE when there is none.
HANDLE OpenUsbDevice(const GUID& interfaceClass, char (&path)[kUsbPathSize]);

// Opens one interface when its device path is the controller's and fits the path buffer;
// INVALID_HANDLE_VALUE otherwise. Another vendor's device is never opened.
HANDLE OpenOneDevice(HDEVINFO deviceInfo, SP_DEVICE_INTERFACE_DATA* interfaceData,
                     char (&path)[kUsbPathSize]);

}  // namespace fwburn

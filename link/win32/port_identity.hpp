// What a Windows port or controller is known by: the COM name however it was written, the key two
// names of one port share, the controller's device instances, and the names of the kernel objects
// that lock one update per controller. No platform header here, so the rules are tested on every
// platform.
#pragma once

#include <string>

namespace fwburn {

// The identity the controller's USB link as a whole is locked under: held alone by an update that
// takes whichever controller it finds (the window, a console run without a port), shared by
// updates of one controller each.
constexpr char kUsbLinkIdentity[] = "usb-3b9e-0001";

// "COM5" for "COM5", "com5", "\\.\COM5" and "\\?\COM5", and for the object namespace's ways back
// to the same name: "\??\COM5" (passed through as written), "\\.\Global\COM5",
// "\\?\GLOBALROOT\GLOBAL??\COM5", "\\.\GLOBALROOT\??\COM5", "...\DosDevices\COM5", chained, in any
// case; dots and blanks that end a name Win32 reads ("COM5.", "\\.\COM5 ") dropped as it drops
// them. COM and 1 to 6 ASCII digits, the first not 0. Empty for anything else.
std::string ComPortName(const std::string& given);

// What two names of one port have in common: the name it has among the DOS devices, read as
// above, upper-cased (the object namespace ignores case); else the whole name upper-cased.
std::string PortKey(const std::string& given);

// Whether the name goes through the namespace's root somewhere other than the DOS devices
// ("\\.\GLOBALROOT\Device\Serial0"): a device opened so has a key none of its other names share,
// so it is no port name.
bool LeavesDosDevices(const std::string& given);

// Whether a device instance is the controller's USB device or one of its interfaces
// ("USB\VID_3B9E&PID_0001\..." or "USB\VID_3B9E&PID_0001&MI_00\..."), in any case.
bool IsControllerInstance(const std::string& instance);

// Whether the instance is one interface of a composite device ("&MI_" in its second part): its
// device is its parent.
bool IsInterfaceInstance(const std::string& instance);

// The serial number a USB device instance carries as its last part. Windows names a device that
// has none by where it is plugged, with '&' in that part, which is no serial: empty then, and for
// an interface of a composite device.
std::string SerialOfInstance(const std::string& instance);

// The name of the kernel object that locks `identity` (with `suffix`, e.g. ".1"), in the global
// namespace so that every session on the machine sees it: "Global\fwburn-update-" and the
// identity upper-cased, with anything but letters, digits, '.', '-' and '+' written %XX (a
// backslash may not stand in an object name, and two identities never share one). A name longer
// than Windows allows keeps its start and ends with a digest of the whole identity.
std::string LockObjectName(const std::string& identity, const std::string& suffix = "");

}  // namespace fwburn

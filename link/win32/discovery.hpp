// Filling the window's port list: the serial ports present, or the one pseudo-port "USB".
#pragma once

#include <windows.h>

namespace fwburn {

// Lists every present device whose friendly name carries a port name, by that name. The list
// keeps no entry of an earlier filling; none is selected. totalComPort counts the entries.
void EnumComPort(HWND portList);

// Lists only "USB", selected.
void EnumUSBPort(HWND portList);

}  // namespace fwburn

// Filling the window's port list: the serial ports present, or the one pseudo-port "USB".
#pragma once

#include <windows.h>

namespace fwburn {

// Lists every present device whose friendly name carries a port name, by that name, after
// removing the `listed` entries an earlier filling put there; none is selected. Returns how many
// entries the list now holds (`listed` when the devices cannot be enumerated: nothing changes).
int EnumComPort(HWND portList, int listed);

// Lists only "USB", selected, after removing the `listed` entries of an earlier filling; returns 1.
int EnumUSBPort(HWND portList, int listed);

}  // namespace fwburn

#include "link/win32/discovery.hpp"

#include "link/win32/device_list.hpp"

namespace fwburn {

namespace {

// The list only ever holds what the last filling put there: deleting that many entries at the
// front empties it.
void RemovePreviousEntries(HWND portList, int listed) {
    for (int i = 0; i < listed; ++i) {
        SendMessageA(portList, CB_DELETESTRING, 0, 0);
    }
}

}  // namespace

int EnumComPort(HWND portList, int listed) {
    const std::optional<std::vector<ComPortEntry>> ports = ListComPorts();
    if (!ports) {
        return listed;
    }
    RemovePreviousEntries(portList, listed);
    for (const ComPortEntry& port : *ports) {
        SendMessageA(portList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(port.name.c_str()));
    }
    return static_cast<int>(ports->size());
}

int EnumUSBPort(HWND portList, int listed) {
    RemovePreviousEntries(portList, listed);
    SendMessageA(portList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("USB"));
    SendMessageA(portList, CB_SETCURSEL, 0, 0);
    return 1;
}

}  // namespace fwburn

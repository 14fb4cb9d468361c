#include "link/win32/discovery.hpp"

// windows.h first: setupapi.h needs its types.
#include <setupapi.h>

#include <cstring>

#include "link/win32/port_names.hpp"

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
    HDEVINFO devices =
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) {
        return listed;
    }
    RemovePreviousEntries(portList, listed);
    int count = 0;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    char friendlyName[1024];
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        std::memset(friendlyName, 0, sizeof friendlyName);
        if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<BYTE*>(friendlyName),
                                               sizeof friendlyName, nullptr)) {
            continue;
        }
        friendlyName[sizeof friendlyName - 1] = '\0';
        char portName[kPortNameSize];
        if (!CutPortName(friendlyName, portName)) {
            continue;
        }
        SendMessageA(portList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(portName));
        ++count;
    }
    SetupDiDestroyDeviceInfoList(devices);
    return count;
}

int EnumUSBPort(HWND portList, int listed) {
    RemovePreviousEntries(portList, listed);
    SendMessageA(portList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("USB"));
    SendMessageA(portList, CB_SETCURSEL, 0, 0);
    return 1;
}

}  // namespace fwburn

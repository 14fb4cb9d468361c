#include "link/win32/device_list.hpp"

// windows.h first: setupapi.h needs its types.
#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstdlib>
#include <cstring>

#include "link/win32/interface_walk.hpp"
#include "link/win32/port_identity.hpp"
#include "link/win32/port_names.hpp"
#include "link/win32/usb_search.hpp"

namespace fwburn {

namespace {

std::string InstanceOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    if (!SetupDiGetDeviceInstanceIdA(devices, &device, id, sizeof id - 1, nullptr)) {
        return "";
    }
    return id;
}

std::string Property(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    // Asked for at most 1024 bytes, a name of up to 1023 characters and its terminator; the byte
    // beyond stays zero whatever the platform writes.
    char text[1024 + 1] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(text), sizeof text - 1,
                                           nullptr)) {
        return "";
    }
    return text;
}

bool SameInstance(const std::string& a, const std::string& b) {
    return !a.empty() && lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// Calls `found(devices, device, path)` for each present interface of the USB device class whose
// path is the controller's, until it returns true.
template <typename Found>
void WalkControllers(Found found) {
    HDEVINFO devices = SetupDiGetClassDevsA(&USB_DRIVER_GUID, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (devices == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    WalkInterfaces([&](uint32_t index) {
        if (!SetupDiEnumDeviceInterfaces(devices, nullptr, &USB_DRIVER_GUID,
                                         static_cast<DWORD>(index), &interfaceData)) {
            return GetLastError() == ERROR_NO_MORE_ITEMS ? InterfaceStep::End
                                                         : InterfaceStep::Failed;
        }
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(devices, &interfaceData, nullptr, 0, &required, nullptr);
        const DWORD size = required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
                               ? required
                               : static_cast<DWORD>(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, size));
        if (detail == nullptr) {
            return InterfaceStep::Failed;
        }
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        bool done = false;
        char path[kUsbPathSize] = {};
        if (SetupDiGetDeviceInterfaceDetailA(devices, &interfaceData, detail, size, nullptr,
                                             &device)) {
            reinterpret_cast<char*>(detail)[size - 1] = '\0';
            if (CopyDevicePath(detail->DevicePath, path) && IsControllerPath(path)) {
                done = found(devices, device, path);
            }
        }
        std::free(detail);
        return done ? InterfaceStep::Found : InterfaceStep::Passed;
    });
    SetupDiDestroyDeviceInfoList(devices);
}

}  // namespace

std::optional<std::vector<ComPortEntry>> ListComPorts() {
    HDEVINFO devices =
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::vector<ComPortEntry> ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const std::string friendlyName = Property(devices, device, SPDRP_FRIENDLYNAME);
        char name[kPortNameSize];
        if (friendlyName.empty() || !CutPortName(friendlyName.c_str(), name)) {
            continue;
        }
        ports.push_back({name, friendlyName, InstanceOf(devices, device)});
    }
    SetupDiDestroyDeviceInfoList(devices);
    return ports;
}

std::vector<ControllerDevice> ListControllers() {
    std::vector<ControllerDevice> found;
    WalkControllers([&found](HDEVINFO devices, SP_DEVINFO_DATA& device, const char* path) {
        ControllerDevice c;
        c.instance = InstanceOf(devices, device);
        c.serial = SerialOfInstance(c.instance);
        c.description = Property(devices, device, SPDRP_FRIENDLYNAME);
        if (c.description.empty()) {
            c.description = Property(devices, device, SPDRP_DEVICEDESC);
        }
        c.path = path;
        found.push_back(c);
        return false;
    });
    return found;
}

HANDLE OpenController(const std::string& instance) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    WalkControllers([&](HDEVINFO devices, SP_DEVINFO_DATA& device, const char* found) {
        if (!SameInstance(InstanceOf(devices, device), instance)) {
            return false;
        }
        char path[kUsbPathSize] = {};
        if (CopyDevicePath(found, path) && AppendPipeSuffix(path, "")) {
            handle =
                CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
        }
        return true;
    });
    return handle;
}

std::string DeviceOfInstance(const std::string& instance) {
    if (!IsInterfaceInstance(instance)) {
        return instance;
    }
    DEVINST node = 0;
    DEVINST parent = 0;
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Locate_DevNodeA(&node, const_cast<char*>(instance.c_str()), CM_LOCATE_DEVNODE_NORMAL) !=
            CR_SUCCESS ||
        CM_Get_Parent(&parent, node, 0) != CR_SUCCESS ||
        CM_Get_Device_IDA(parent, id, sizeof id - 1, 0) != CR_SUCCESS) {
        return instance;  // its interface then stands for it
    }
    return id;
}

}  // namespace fwburn

#include "link/win32/usb_search.hpp"

#include <cstdlib>
#include <cstring>

#include "link/win32/interface_walk.hpp"

namespace fwburn {

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}
const GUID USB_DRIVER_GUID = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

HANDLE OpenOneDevice(HDEVINFO deviceInfo, SP_DEVICE_INTERFACE_DATA* interfaceData,
                     char (&path)[kUsbPathSize]) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(deviceInfo, interfaceData, nullptr, 0, &required, nullptr);
    // The size field holds the size of the record's fixed part as this build lays it out: a
    // constant taken from one layout fails on the other.
    const DWORD size = required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
                           ? required
                           : static_cast<DWORD>(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, size));
    if (detail == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (SetupDiGetDeviceInterfaceDetailA(deviceInfo, interfaceData, detail, size, nullptr,
                                         nullptr)) {
        // Terminate within the record whatever the platform wrote.
        reinterpret_cast<char*>(detail)[size - 1] = '\0';
        if (CopyDevicePath(detail->DevicePath, path) && IsControllerPath(path)) {
            handle =
                CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
        }
    }
    std::free(detail);
    return handle;
}

HANDLE OpenUsbDevice(const GUID& interfaceClass, char (&path)[kUsbPathSize]) {
    std::memset(path, 0, sizeof path);
    HDEVINFO deviceInfo = SetupDiGetClassDevsA(&interfaceClass, nullptr, nullptr,
                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (deviceInfo == INVALID_HANDLE_VALUE) {
        return INVALID_HANDLE_VALUE;
    }
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    HANDLE handle = INVALID_HANDLE_VALUE;
    WalkInterfaces([&](uint32_t index) {
        if (!SetupDiEnumDeviceInterfaces(deviceInfo, nullptr, &interfaceClass,
                                         static_cast<DWORD>(index), &interfaceData)) {
            return GetLastError() == ERROR_NO_MORE_ITEMS ? InterfaceStep::End
                                                         : InterfaceStep::Failed;
        }
        handle = OpenOneDevice(deviceInfo, &interfaceData, path);
        return handle != INVALID_HANDLE_VALUE ? InterfaceStep::Found : InterfaceStep::Passed;
    });
    SetupDiDestroyDeviceInfoList(deviceInfo);
    if (handle == INVALID_HANDLE_VALUE) {
        std::memset(path, 0, sizeof path);  // the last interface examined is no result
    }
    return handle;
}

int GetUsbDeviceFileName(const GUID& interfaceClass, char (&path)[kUsbPathSize]) {
    HANDLE probe = OpenUsbDevice(interfaceClass, path);
    if (probe == INVALID_HANDLE_VALUE) {
        return 0;
    }
    CloseHandle(probe);
    return 1;
}

HANDLE OpenMyDevPipe(const char* pipeName) {
    char path[kUsbPathSize] = {};
    if (GetUsbDeviceFileName(USB_DRIVER_GUID, path) == 0) {
        return INVALID_HANDLE_VALUE;
    }
    if (!AppendPipeSuffix(path, pipeName)) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace fwburn

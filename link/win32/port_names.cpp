#include "link/win32/port_names.hpp"

#include <cstring>

namespace fwburn {

bool CutPortName(const char* friendlyName, char (&out)[kPortNameSize]) {
    std::memset(out, 0, sizeof out);
    if (friendlyName == nullptr) {
        return false;
    }
    const char* open = std::strstr(friendlyName, "(COM");
    if (open == nullptr) {
        return false;
    }
    const char* begin = open + 1;
    const char* end = std::strrchr(friendlyName, ')');
    if (end == nullptr || end < begin) {
        return false;
    }
    const size_t length = static_cast<size_t>(end - begin);
    if (length > sizeof out - 1) {
        return false;
    }
    std::memcpy(out, begin, length);
    return true;
}

bool SerialDevicePath(const char* listedName, char (&out)[kSerialPathSize]) {
    std::memset(out, 0, sizeof out);
    if (listedName == nullptr) {
        return false;
    }
    const size_t length = std::strlen(listedName);
    if (length == 0 || length > kPortNameSize - 1) {
        return false;
    }
    std::memcpy(out, "\\\\.\\", 4);
    std::memcpy(out + 4, listedName, length);
    return true;
}

bool IsControllerPath(const char* devicePath) {
    return devicePath != nullptr && std::strstr(devicePath, kControllerPathFragment) != nullptr;
}

bool CopyDevicePath(const char* devicePath, char (&out)[kUsbPathSize]) {
    std::memset(out, 0, sizeof out);
    if (devicePath == nullptr) {
        return false;
    }
    const size_t length = std::strlen(devicePath);
    if (length + 2 > sizeof out) {  // room for the separator and the terminator
        return false;
    }
    std::memcpy(out, devicePath, length);
    return true;
}

bool AppendPipeSuffix(char (&path)[kUsbPathSize], const char* suffix) {
    size_t length = 0;
    while (length < sizeof path && path[length] != '\0') {
        ++length;
    }
    const size_t suffixLength = suffix == nullptr ? 0 : std::strlen(suffix);
    if (length + 1 + suffixLength + 1 > sizeof path) {
        return false;
    }
    path[length] = '\\';
    if (suffixLength != 0) {
        std::memcpy(path + length + 1, suffix, suffixLength);
    }
    path[length + 1 + suffixLength] = '\0';
    return true;
}

}  // namespace fwburn

#include "link/win32/port_identity.hpp"

#include <cctype>
#include <cstdio>
#include <string>

#include "catalogue/sha256.hpp"

namespace fwburn {

namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

bool StartsWith(const std::string& text, const char* start) {
    return text.compare(0, std::char_traits<char>::length(start), start) == 0;
}

// Where a name leads in the kernel's object namespace, upper-cased (the namespace ignores case).
struct Reading {
    std::string name;        // in the DOS devices, or the whole name where it is no device name
    bool elsewhere = false;  // through the namespace's root to somewhere else
};

Reading Read(const std::string& given) {
    Reading r{Upper(given)};
    std::string& name = r.name;
    // "\\?\" and "\??\" reach the object namespace as written; "\\.\" and a plain name are
    // read as Win32 paths first.
    const bool verbatim =
        name.size() > 4 && (StartsWith(name, "\\\\?\\") || StartsWith(name, "\\??\\"));
    if (verbatim || (name.size() > 4 && StartsWith(name, "\\\\.\\"))) {
        name.erase(0, 4);
        // The links back to the DOS devices: "Global" to the global ones (where the ports are),
        // "GLOBALROOT" to the root, whose "??", "GLOBAL??" and "DosDevices" are them again.
        for (bool linked = true; linked;) {
            linked = false;
            if (StartsWith(name, "GLOBAL\\")) {
                name.erase(0, 7);
                linked = true;
            } else if (StartsWith(name, "GLOBALROOT\\")) {
                for (const char* devices : {"??\\", "GLOBAL??\\", "DOSDEVICES\\"}) {
                    if (name.compare(11, std::char_traits<char>::length(devices), devices) == 0) {
                        name.erase(0, 11 + std::char_traits<char>::length(devices));
                        linked = true;
                        break;
                    }
                }
                r.elsewhere = !linked;
            }
        }
    }
    if (!verbatim) {
        // Win32 drops the dots and blanks that end a path: "\\.\COM7 ." opens COM7.
        while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
            name.pop_back();
        }
    }
    return r;
}

bool Plain(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+';
}

}  // namespace

std::string ComPortName(const std::string& given) {
    const Reading r = Read(given);
    const std::string& name = r.name;
    constexpr size_t kMostDigits = 6;
    if (r.elsewhere || name.size() < 4 || name.size() > 3 + kMostDigits ||
        name.compare(0, 3, "COM") != 0 || name[3] == '0') {
        return "";
    }
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) {
            return "";
        }
    }
    return name;
}

std::string PortKey(const std::string& given) {
    return Read(given).name;
}

bool LeavesDosDevices(const std::string& given) {
    return Read(given).elsewhere;
}

bool IsControllerInstance(const std::string& instance) {
    static const std::string kDevice = "USB\\VID_3B9E&PID_0001";
    const std::string upper = Upper(instance);
    return upper.compare(0, kDevice.size(), kDevice) == 0 && upper.size() > kDevice.size() &&
           (upper[kDevice.size()] == '\\' || upper[kDevice.size()] == '&');
}

bool IsInterfaceInstance(const std::string& instance) {
    const size_t first = instance.find('\\');
    const size_t second = instance.find('\\', first == std::string::npos ? first : first + 1);
    const std::string ids = Upper(instance.substr(0, second));
    return first != std::string::npos && ids.find("&MI_", first) != std::string::npos;
}

std::string SerialOfInstance(const std::string& instance) {
    const size_t last = instance.rfind('\\');
    if (last == std::string::npos || IsInterfaceInstance(instance) || instance.find('\\') == last) {
        return "";
    }
    const std::string serial = instance.substr(last + 1);
    return serial.find('&') != std::string::npos ? "" : serial;
}

std::string LockObjectName(const std::string& identity, const std::string& suffix) {
    static const std::string kPrefix = "Global\\fwburn-update-";
    constexpr size_t kLongest = 240;  // inside MAX_PATH, with room for the suffix
    std::string name = kPrefix;
    for (const char c : Upper(identity)) {
        if (Plain(c)) {
            name += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            name += escaped;
        }
    }
    if (name.size() > kLongest) {
        const std::string upper = Upper(identity);
        char hex[65];
        Sha256Hex(Sha256(reinterpret_cast<const uint8_t*>(upper.data()), upper.size()), hex);
        name = name.substr(0, kLongest - 65) + "~" + hex;
    }
    return name + suffix;
}

}  // namespace fwburn

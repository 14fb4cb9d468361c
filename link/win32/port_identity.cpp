#include "link/win32/port_identity.hpp"

#include <cctype>
#include <cstdio>

#include "catalogue/sha256.hpp"

namespace fwburn {

namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// "\\.\" or "\\?\" in front: the device namespace.
std::string WithoutNamespace(const std::string& given) {
    if (given.size() > 4 && given[0] == '\\' && given[1] == '\\' &&
        (given[2] == '.' || given[2] == '?') && given[3] == '\\') {
        return given.substr(4);
    }
    return given;
}

bool Plain(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+';
}

}  // namespace

std::string ComPortName(const std::string& given) {
    const std::string name = Upper(WithoutNamespace(given));
    constexpr size_t kMostDigits = 6;
    if (name.size() < 4 || name.size() > 3 + kMostDigits || name.compare(0, 3, "COM") != 0 ||
        name[3] == '0') {
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
    const std::string com = ComPortName(given);
    return com.empty() ? Upper(WithoutNamespace(given)) : com;
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

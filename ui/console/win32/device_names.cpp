#include "ui/console/win32/device_names.hpp"

#include <cctype>

namespace fwburn::console {

namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

bool InDeviceNamespace(const std::string& path) {
    if (path.size() < 4 || path[0] != '\\' || path[1] != '\\' || path[3] != '\\') {
        return false;
    }
    if (path[2] == '.') {
        return true;
    }
    if (path[2] != '?') {
        return false;
    }
    const std::string rest = Upper(path.substr(4));
    const bool drive =
        rest.size() >= 2 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':';
    return !drive && rest.compare(0, 4, "UNC\\") != 0;
}

std::string WithBackslashes(std::string path) {
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return path;
}

// The last part of `path`, less any extension, trailing dots and blanks, in capitals. A colon
// after it ("COM7:") is no drive's.
std::string LastStem(std::string path) {
    while (!path.empty() && path.back() == ':') {
        path.pop_back();
    }
    const size_t slash = path.find_last_of("\\:");
    std::string name = Upper(slash == std::string::npos ? path : path.substr(slash + 1));
    name = name.substr(0, name.find('.'));
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) {
        name.pop_back();
    }
    return name;
}

bool SuperscriptDigit(const std::string& digit) {
    return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

}  // namespace

bool NamesADevice(const std::string& given) {
    const std::string path = WithBackslashes(given);
    if (InDeviceNamespace(path)) {
        return true;
    }
    const std::string name = LastStem(path);
    if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL" || name == "CONIN$" ||
        name == "CONOUT$") {
        return true;
    }
    const std::string stem = name.substr(0, 3);
    if (stem != "COM" && stem != "LPT") {
        return false;
    }
    const std::string digit = name.substr(3);
    return (digit.size() == 1 && std::isdigit(static_cast<unsigned char>(digit[0]))) ||
           SuperscriptDigit(digit);
}

}  // namespace fwburn::console

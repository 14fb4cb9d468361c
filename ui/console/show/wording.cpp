#include "ui/console/show/wording.hpp"

#include <cstdio>

#include "ui/console/show/shown_text.hpp"

namespace fwburn::console {

std::string ShortPortName(const std::string& path) {
    static const std::string kDev = "/dev/";
    static const std::string kDevices = "\\\\.\\";  // Windows' "\\.\COM12" is COM12
    constexpr size_t kFits = 9;
    if (path.compare(0, kDev.size(), kDev) == 0 && path.size() - kDev.size() <= kFits) {
        return path.substr(kDev.size());  // "ttyUSB0", "pts/12": as a person names them
    }
    if (path.compare(0, kDevices.size(), kDevices) == 0) {
        return Head(path.substr(kDevices.size()), kFits);
    }
    const size_t slash = path.find_last_of('/');
    return Head(slash == std::string::npos ? path : path.substr(slash + 1), kFits);
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string LockRefusal(const std::string& what, int holder, const std::string& program,
                        const std::string& busyFile, const std::string& why) {
    if (busyFile.empty()) {
        return "cannot lock the port: " + why;
    }
    return what + ": in use by another fwburn program (process " +
           (holder > 0 ? std::to_string(holder) : std::string("unknown")) +
           (program.empty() ? "" : ", " + program) + "; lock file " + busyFile + ")";
}

std::string GaveUpText(int accepted) {
    return "the PLC stayed in application mode after " + std::to_string(accepted) +
           " accepted update requests; giving up (nothing was erased)";
}

}  // namespace fwburn::console

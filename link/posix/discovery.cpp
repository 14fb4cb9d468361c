#include "link/posix/discovery.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace fwburn::posix {

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, without its newline; nullopt when unreadable.
std::optional<std::string> ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

// A serial-core slot whose probe found no UART reads `type` 0. Ports of other drivers have no
// `type`; an unreadable one gives the port the benefit of the doubt.
bool IsGhostUart(const fs::path& ttyDir) {
    const std::optional<std::string> type = ReadAttribute(ttyDir / "type");
    return type && *type == "0";
}

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

// The names under <sys>/class/tty that are backed by a device.
std::vector<std::string> DeviceTtys(const fs::path& sysRoot) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(sysRoot / "class" / "tty", ec), end; !ec && it != end;
         it.increment(ec)) {
        if (Exists(it->path() / "device")) {
            names.push_back(it->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// True when the nearest USB device above `tty` is the controller. USB devices are the sysfs
// directories that carry `idVendor`; interfaces and the tty itself do not.
bool BelongsToController(const fs::path& sysRoot, const std::string& tty) {
    std::error_code ec;
    const fs::path top = fs::canonical(sysRoot, ec);
    if (ec) {
        return false;
    }
    fs::path dir = fs::canonical(sysRoot / "class" / "tty" / tty / "device", ec);
    for (; !ec && dir != top && dir.has_relative_path(); dir = dir.parent_path()) {
        const std::optional<std::string> vendor = ReadAttribute(dir / "idVendor");
        if (vendor) {
            return *vendor == kControllerVendorId &&
                   ReadAttribute(dir / "idProduct") ==
                       std::optional<std::string>(kControllerProductId);
        }
    }
    return false;
}

}  // namespace

std::vector<std::string> ListSerialPorts(const std::string& sysRoot, const std::string& devRoot) {
    const fs::path dev = fs::path(devRoot).lexically_normal();
    std::set<std::string> ports;

    for (const std::string& name : DeviceTtys(sysRoot)) {
        const fs::path node = dev / name;
        if (!IsGhostUart(fs::path(sysRoot) / "class" / "tty" / name) && Exists(node)) {
            ports.insert(node.string());
        }
    }

    // udev names USB adapters here; a container may have these links without the sysfs entries.
    const fs::path byId = dev / "serial" / "by-id";
    std::error_code ec;
    for (fs::directory_iterator it(byId, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(it->path(), linkError);
        if (linkError || !Exists(it->path())) {
            continue;  // not a link, or a stale one
        }
        ports.insert((target.is_absolute() ? target : byId / target).lexically_normal().string());
    }
    return {ports.begin(), ports.end()};
}

std::vector<std::string> FindUsbControllerTtys(const std::string& sysRoot,
                                               const std::string& devRoot) {
    const fs::path dev = fs::path(devRoot).lexically_normal();
    std::vector<std::string> found;
    for (const std::string& name : DeviceTtys(sysRoot)) {
        if (BelongsToController(sysRoot, name) && Exists(dev / name)) {
            found.push_back((dev / name).string());
        }
    }
    return found;
}

std::optional<std::string> FindUsbControllerTty(const std::string& sysRoot,
                                                const std::string& devRoot) {
    std::vector<std::string> found = FindUsbControllerTtys(sysRoot, devRoot);
    if (found.empty()) {
        return std::nullopt;
    }
    return found.front();
}

}  // namespace fwburn::posix

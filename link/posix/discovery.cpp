#include "link/posix/discovery.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fwburn::posix {

namespace fs = std::filesystem;

// Opened without waiting and read one page at most, as the kernel gives an attribute: a tree laid
// out by hand may hold a FIFO nobody writes (an open that no blocked signal could end) or a file
// without end where an attribute should be.
std::optional<std::string> ReadSysfsAttribute(const std::string& file) {
    constexpr size_t kPage = 4096;
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    std::string text;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    while (ok && text.size() < kPage) {
        char chunk[kPage];
        const ssize_t n = read(fd, chunk, kPage - text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n >= 0;
        if (n <= 0) {
            break;
        }
        text.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    if (!ok || text.empty()) {
        return std::nullopt;
    }
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

namespace {

// A serial-core slot whose probe found no UART reads `type` 0. Ports of other drivers have no
// `type`; an unreadable one gives the port the benefit of the doubt.
bool IsGhostUart(const fs::path& ttyDir) {
    const std::optional<std::string> type = ReadSysfsAttribute(ttyDir / "type");
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

// The nearest USB device above `tty`: the sysfs directory that carries `idVendor` (interfaces and
// the tty itself do not). Hubs further up never count.
std::optional<fs::path> NearestUsbDevice(const fs::path& sysRoot, const std::string& tty) {
    std::error_code ec;
    const fs::path top = fs::canonical(sysRoot, ec);
    if (ec) {
        return std::nullopt;
    }
    fs::path dir = fs::canonical(sysRoot / "class" / "tty" / tty / "device", ec);
    for (; !ec && dir != top && dir.has_relative_path(); dir = dir.parent_path()) {
        if (ReadSysfsAttribute(dir / "idVendor")) {
            return dir;
        }
    }
    return std::nullopt;
}

std::optional<UsbPort> Describe(const fs::path& sysRoot, const fs::path& dev,
                                const std::string& tty) {
    const std::optional<fs::path> usb = NearestUsbDevice(sysRoot, tty);
    if (!usb) {
        return std::nullopt;
    }
    UsbPort port;
    port.tty = (dev / tty).string();
    port.physical = usb->filename().string();
    // The interface is the device's child on the way down to the tty: a modem's tty hangs on it
    // right away, a USB serial adapter's below a port of its own (1-1.2:1.0/ttyUSB0).
    std::error_code ec;
    const fs::path below = fs::canonical(fs::path(sysRoot) / "class" / "tty" / tty / "device", ec)
                               .lexically_relative(*usb);
    if (!ec && !below.empty() && *below.begin() != "." && *below.begin() != "..") {
        port.usbInterface = below.begin()->string();
    }
    port.serial = ReadSysfsAttribute(*usb / "serial").value_or("");
    port.product = ReadSysfsAttribute(*usb / "product").value_or("");
    port.vendorId = ReadSysfsAttribute(*usb / "idVendor").value_or("");
    port.productId = ReadSysfsAttribute(*usb / "idProduct").value_or("");
    return port;
}

// The tty names in a file laid out as /proc/consoles: the first word of each line.
std::set<std::string> ConsoleTtys(const std::string& consoles) {
    std::set<std::string> names;
    std::ifstream in(consoles);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string name;
        if (words >> name) {
            names.insert(name);
        }
    }
    return names;
}

bool IsController(const UsbPort& port) {
    return port.vendorId == kControllerVendorId && port.productId == kControllerProductId;
}

}  // namespace

std::vector<std::string> ListSerialPorts(const std::string& sysRoot, const std::string& devRoot,
                                         const std::string& consoles) {
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
    for (const std::string& name : ConsoleTtys(consoles)) {
        ports.erase((dev / name).string());
    }
    return {ports.begin(), ports.end()};
}

std::vector<UsbPort> FindUsbControllers(const std::string& sysRoot, const std::string& devRoot) {
    const fs::path dev = fs::path(devRoot).lexically_normal();
    std::vector<UsbPort> found;
    for (const std::string& name : DeviceTtys(sysRoot)) {
        std::optional<UsbPort> port = Describe(sysRoot, dev, name);
        if (port && IsController(*port) && Exists(dev / name)) {
            found.push_back(std::move(*port));
        }
    }
    return found;
}

std::vector<std::string> FindUsbControllerTtys(const std::string& sysRoot,
                                               const std::string& devRoot) {
    std::vector<std::string> found;
    for (UsbPort& port : FindUsbControllers(sysRoot, devRoot)) {
        found.push_back(std::move(port.tty));
    }
    return found;
}

namespace {

// The tty `path` names: its node right in `devDir`, reached by the path itself or by the links it
// goes through (/dev/serial/by-id/... names /dev/ttyACM0 so). A tty's name anywhere else
// (./ttyACM0, a link of the user's called so) says nothing of what it opens: taken for the /dev
// node of that name, it would pin an update to another device than the one given.
std::optional<std::string> TtyName(const fs::path& path, const fs::path& devDir,
                                   const fs::path& sysRoot) {
    constexpr int kMostLinks = 40;  // as the kernel follows
    const auto isTty = [&sysRoot](const fs::path& name) {
        std::error_code ec;
        return !name.empty() && fs::exists(sysRoot / "class/tty" / name, ec);
    };
    std::error_code ec;
    fs::path dev = fs::absolute(devDir, ec).lexically_normal();
    if (!dev.has_filename()) {
        dev = dev.parent_path();  // "/dev/" is "/dev"
    }
    fs::path at = fs::absolute(path, ec).lexically_normal();
    for (int links = 0; !ec && links <= kMostLinks; ++links) {
        if (at.parent_path() == dev && isTty(at.filename())) {
            return at.filename().string();
        }
        const fs::path target = fs::read_symlink(at, ec);
        at = (target.is_absolute() ? target : at.parent_path() / target).lexically_normal();
    }
    // A directory on the way that is a link: the real node's directory is the real /dev.
    std::error_code realError;
    const fs::path real = fs::canonical(path, realError);
    if (!realError && real.parent_path() == fs::canonical(dev, realError) && !realError &&
        isTty(real.filename())) {
        return real.filename().string();
    }
    return std::nullopt;
}

}  // namespace

std::optional<UsbPort> DescribeUsbTty(const std::string& tty, const std::string& sysRoot,
                                      const std::string& devRoot) {
    const fs::path devDir = fs::path(devRoot).lexically_normal();
    const std::optional<std::string> name = TtyName(tty, devDir, sysRoot);
    if (!name) {
        return std::nullopt;
    }
    return Describe(sysRoot, devDir, *name);
}

std::optional<std::string> FindControllerTty(const std::string& physical, const std::string& serial,
                                             const std::string& sysRoot, const std::string& devRoot,
                                             const std::string& usbInterface) {
    for (UsbPort& port : FindUsbControllers(sysRoot, devRoot)) {
        if (port.physical == physical && (serial.empty() || port.serial == serial) &&
            (usbInterface.empty() || port.usbInterface == usbInterface)) {
            return std::move(port.tty);
        }
    }
    return std::nullopt;
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

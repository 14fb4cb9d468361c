#include "tests/posix/fake_sysfs.hpp"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace fwburn::posix::test {

namespace fs = std::filesystem;

FakeSysfs::FakeSysfs() {
    std::string pattern = (fs::temp_directory_path() / "fwburn-sysfs-XXXXXX").string();
    root_ = mkdtemp(pattern.data()) != nullptr ? pattern : "";
    fs::create_directories(sys() + "/class/tty");
    fs::create_directories(dev());
}

FakeSysfs::~FakeSysfs() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void FakeSysfs::Write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text << '\n';
}

void FakeSysfs::AddTty(const std::string& name, const std::string& parent,
                       const std::string& type) {
    const std::string owner = parent.empty() ? "virtual" : parent;
    const fs::path dir = fs::path(sys()) / "devices" / owner / "tty" / name;
    fs::create_directories(dir);
    if (!parent.empty()) {
        fs::create_directory_symlink("../..", dir / "device");
    }
    if (!type.empty()) {
        Write((dir / "type").string(), type);
    }
    fs::create_directory_symlink(fs::relative(dir, sys() + "/class/tty"),
                                 sys() + "/class/tty/" + name);
}

void FakeSysfs::AddTtyOnBus(const std::string& name, const std::string& parent,
                            const std::string& subsystem, const std::string& latency) {
    AddTty(name, parent);
    const fs::path dir = fs::path(sys()) / "devices" / parent;
    fs::create_directories(sys() + "/bus/" + subsystem);
    fs::create_directory_symlink(fs::relative(sys() + "/bus/" + subsystem, dir), dir / "subsystem");
    if (!latency.empty()) {
        Write((dir / "latency_timer").string(), latency);
    }
}

void FakeSysfs::AddUsbDevice(const std::string& path, const std::string& vendor,
                             const std::string& product) {
    const std::string dir = sys() + "/devices/" + path;
    Write(dir + "/idVendor", vendor);
    Write(dir + "/idProduct", product);
    Write(dir + "/" + fs::path(path).filename().string() + ":1.0/bInterfaceClass", "02");
}

void FakeSysfs::AddUsbTty(const std::string& name, const std::string& usbPath,
                          const std::string& vendor, const std::string& product) {
    AddUsbDevice(usbPath, vendor, product);
    AddTty(name, usbPath + "/" + fs::path(usbPath).filename().string() + ":1.0");
}

void FakeSysfs::AddDevNode(const std::string& name, const std::string& target) {
    if (target.empty()) {
        Write(dev() + "/" + name, "");
    } else {
        fs::create_symlink(target, dev() + "/" + name);
    }
}

void FakeSysfs::AddById(const std::string& link, const std::string& target) {
    fs::create_directories(dev() + "/serial/by-id");
    fs::create_symlink(target, dev() + "/serial/by-id/" + link);
}

}  // namespace fwburn::posix::test

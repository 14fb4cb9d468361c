// A sysfs and /dev tree in a temporary directory, laid out as the kernel and udev lay out theirs.
#pragma once

#include <string>

namespace fwburn::posix::test {

class FakeSysfs {
  public:
    FakeSysfs();
    ~FakeSysfs();
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    std::string sys() const { return root_ + "/sys"; }
    std::string dev() const { return root_ + "/dev"; }

    // A tty under devices/<parent>/tty/<name> with a `device` link to the parent, or under
    // devices/virtual/tty without one when `parent` is empty. `type` empty: no `type` attribute.
    void AddTty(const std::string& name, const std::string& parent, const std::string& type = "");
    // A tty whose parent device at devices/<parent> sits on the bus `subsystem` ("usb-serial",
    // "usb", "platform"), with a latency_timer attribute when `latency` is not empty.
    void AddTtyOnBus(const std::string& name, const std::string& parent,
                     const std::string& subsystem, const std::string& latency = "");
    // A USB device at devices/<path> with its ids; its interface 1.0 is `path` + "/<last>:1.0".
    void AddUsbDevice(const std::string& path, const std::string& vendor,
                      const std::string& product);
    // A USB modem tty on interface 1.0 of the USB device at `usbPath`.
    void AddUsbTty(const std::string& name, const std::string& usbPath, const std::string& vendor,
                   const std::string& product);
    // /dev/<name>: an empty file, or a link to `target`.
    void AddDevNode(const std::string& name, const std::string& target = "");
    void AddById(const std::string& link, const std::string& target);

  private:
    void Write(const std::string& path, const std::string& text);
    std::string root_;
};

}  // namespace fwburn::posix::test

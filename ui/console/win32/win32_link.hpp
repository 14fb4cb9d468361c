// The console's link on Windows: the port given with --port (a COM name, or a device path), a
// controller pinned by its device instance and found again at each open, or the controller the
// window would find.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "link/trace/trace_writer.hpp"
#include "link/trace/tracing_device.hpp"
#include "link/win32/win32_device.hpp"
#include "ui/console/session/host.hpp"

namespace fwburn::console {

class Win32Link final : public SessionLink {
  public:
    // `port`: a COM name ("COM5", "\\.\COM12") or another device path. Else `instance`: a
    // controller found by discovery, opened as the window opens its USB device. Neither: a
    // USB-linked model opens the controller the window would find, a serial-linked one none.
    Win32Link(std::string port, std::string instance)
        : port_(std::move(port)), instance_(std::move(instance)) {}

    void TraceTo(TraceWriter* trace) override;
    Device* Open(bool usb, std::string& failure) override;
    void Close(Device* device) override;
    std::string OpenedPath() const override;
    bool LastDeviceHungUp() const override;
    // Drops what is queued both ways and aborts a transfer under way, whatever the worker does
    // with the port; the handle itself goes with the process.
    void ReleaseForExit(std::chrono::steady_clock::time_point giveUpAt) override;

  private:
    HANDLE OpenHandle(bool usb, std::string& failure, std::string& opened) const;

    const std::string port_;
    const std::string instance_;
    mutable std::timed_mutex mutex_;
    Win32Device device_;
    TraceWriter* trace_ = nullptr;
    std::unique_ptr<TracingDevice> traced_;
    std::string opened_;
    bool hungUp_ = false;  // the device closed last had been found gone
};

// What the failure of an open of `name` says: "no such port", "in use by another program", or
// Windows' own words.
std::string OpenFailure(const std::string& name, DWORD error);

// The key of the device that Windows opens for `name`: a DOS device spelled as a path ("COM4:",
// "com4.txt", "C:\logs\COM4", "//./COM12") opens the port itself, so it is that port's key.
std::string DeviceKeyOf(const std::string& name);

// The COM port Windows opens for `name`, read as DeviceKeyOf reads it ("COM4:", "\\.\Global\COM4"
// and "\??\COM4" give "COM4"); empty when it opens none.
std::string ComPortOf(const std::string& name);

// The device Windows opens for `name`, read as DeviceKeyOf reads it ("AUX.txt" gives "COM1",
// "\\.\C:" "C:"); empty when it opens a file, or a path within a device ("\\.\pipe\x").
std::string DeviceNameOf(const std::string& name);

}  // namespace fwburn::console

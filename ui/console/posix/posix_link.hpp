// The console's link on Linux: the port given with --port, or the one discovery finds.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "link/posix/posix_device.hpp"
#include "link/trace/trace_writer.hpp"
#include "link/trace/tracing_device.hpp"
#include "ui/console/session/host.hpp"

namespace fwburn::console {

class PosixLink final : public SessionLink {
  public:
    // `path` empty: a USB-linked model opens the controller's USB tty, found anew at each open
    // in the trees at `sysRoot` and `devRoot` (after a replug it may come back under another
    // name); a serial-linked model has no port.
    // A `path` that leads to a character device now, before its lock is taken, opens only that
    // device from then on.
    explicit PosixLink(std::string path, std::string sysRoot = "/sys",
                       std::string devRoot = "/dev");
    // One of several USB controllers: its tty is looked up anew at each open by `find` (the
    // controller's socket and serial number), since a replug may swap the tty names; nullopt
    // while it is not attached, which `absent` words.
    using Finder = std::function<std::optional<std::string>()>;
    PosixLink(Finder find, std::string absent)
        : find_(std::move(find)), absent_(std::move(absent)) {}

    // From now on every open device is recorded to `trace` (kept alive by the caller).
    void TraceTo(TraceWriter* trace) override { trace_ = trace; }

    Device* Open(bool usb, std::string& failure) override;
    void Close(Device* device) override;
    std::string OpenedPath() const override;
    bool LastOpenDenied() const override { return denied_; }
    bool LastDeviceHungUp() const override;

    // For the main thread on a signal, just before the process ends (_exit closes the port):
    // clears the port's exclusive flag and drops what is queued, whatever the worker is doing
    // with it. The lock is kept, so that the worker cannot open or close a port meanwhile. A
    // worker that holds it past `giveUpAt` is in a close that waits for output to drain
    // (which clears the flag first) or in an open: the signal does not wait for it, and the port
    // that open gives takes no write either.
    void ReleaseForExit(std::chrono::steady_clock::time_point giveUpAt) override;

  private:
    std::string path_;
    std::optional<dev_t> lockedDevice_;
    std::string sysRoot_ = "/sys";
    std::string devRoot_ = "/dev";
    Finder find_;
    std::string absent_;
    mutable std::timed_mutex mutex_;
    std::unique_ptr<posix::PosixDevice> device_;
    TraceWriter* trace_ = nullptr;
    std::unique_ptr<TracingDevice> traced_;
    std::string opened_;
    bool denied_ = false;                // the last open failed for want of permission
    bool hungUp_ = false;                // the device closed last had been found hung up
    std::atomic<bool> released_{false};  // the process is ending: nothing more is written
};

}  // namespace fwburn::console

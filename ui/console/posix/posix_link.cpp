#include "ui/console/posix/posix_link.hpp"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <chrono>
#include <string>

#include "link/posix/usb_open.hpp"
#include "protocol/request_name.hpp"

namespace fwburn::console {

PosixLink::PosixLink(std::string path, std::string sysRoot, std::string devRoot)
    : path_(std::move(path)), sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {
    // The lock follows links to the device, once; each reopen would follow them anew.
    if (struct stat st{}; !path_.empty() && stat(path_.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        lockedDevice_ = st.st_rdev;
    }
}

Device* PosixLink::Open(bool usb, std::string& failure) {
    std::lock_guard<std::timed_mutex> lock(mutex_);
    traced_.reset();
    device_.reset();
    posix::OpenFailure why;
    if (find_) {
        if (const std::optional<std::string> tty = find_()) {
            device_ = posix::OpenSerialPort(*tty, &why);
        } else {
            why.message = absent_;
        }
    } else if (!path_.empty()) {
        device_ = posix::OpenSerialPort(path_, &why, lockedDevice_);
    } else if (usb) {
        device_ = posix::OpenUsbController(&why, sysRoot_, devRoot_);
    } else {
        why.message = "no serial port found (give one with --port)";
    }
    denied_ = !device_ && why.reason == posix::OpenError::kDenied;
    if (!device_) {
        failure = why.message;
        if (trace_ != nullptr) {
            trace_->Note("open failed " + failure);
        }
        return nullptr;
    }
    if (released_.load()) {
        device_->StopWriting();  // opened while the process ends: its release did not wait
    }
    if (usb) {
        device_->KeepModemLines();
    }
    opened_ = device_->path();
    if (trace_ != nullptr) {
        trace_->Note("open " + opened_);
        if (usb) {
            trace_->Note("DTR and RTS kept raised (the USB link)");
        }
        traced_ = std::make_unique<TracingDevice>(*device_, *trace_, RequestName);
        return traced_.get();
    }
    return device_.get();
}

void PosixLink::Close(Device* device) {
    std::lock_guard<std::timed_mutex> lock(mutex_);
    if (device_ && (device == device_.get() || (traced_ && device == traced_.get()))) {
        if (trace_ != nullptr) {
            // Said only when it happened: the one sign in a trace that the line delivered
            // replies sooner than its baud rate allows (a stale byte, or a line with no wire).
            if (const uint64_t stale = device_->staleBytesDropped(); stale > 0) {
                trace_->Note("stale " + std::to_string(stale) + " bytes dropped");
            }
            if (const uint64_t restored = device_->lineRestored(); restored > 0) {
                trace_->Note("line settings changed by another process, set back " +
                             std::to_string(restored) + " times");
            }
            trace_->Note("close " + opened_);
        }
        hungUp_ = device_->hungUp();
        traced_.reset();
        device_.reset();
    }
}

bool PosixLink::LastDeviceHungUp() const {
    std::lock_guard<std::timed_mutex> lock(mutex_);
    return device_ ? device_->hungUp() : hungUp_;
}

std::string PosixLink::OpenedPath() const {
    std::lock_guard<std::timed_mutex> lock(mutex_);
    return opened_;
}

void PosixLink::ReleaseForExit(std::chrono::steady_clock::time_point giveUpAt) {
    released_.store(true);
    if (!mutex_.try_lock_until(giveUpAt)) {
        return;
    }
    if (device_) {
        // The exclusive flag outlives the descriptor on a pseudo-terminal, so it goes first. The
        // descriptor itself, and its lock, go with the process: the worker may be reading it.
        // Nothing left to send, so that the last close does not wait for output to drain, and
        // nothing more sent: a reply that comes before the end would lead the worker on, to an
        // erase that the last words do not tell.
        device_->StopWriting();
        const int fd = device_->fd();
        ioctl(fd, TIOCNXCL);
        tcflush(fd, TCIOFLUSH);
        device_->ReleaseLockFile();
    }
}

}  // namespace fwburn::console

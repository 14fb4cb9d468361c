#include "ui/console/win32/win32_link.hpp"

#include <chrono>

#include "link/usb_port.hpp"
#include "link/win32/device_list.hpp"
#include "link/win32/port_identity.hpp"
#include "link/win32/usb_search.hpp"
#include "protocol/request_name.hpp"
#include "ui/console/win32/text.hpp"

namespace fwburn::console {

std::string OpenFailure(const std::string& name, DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return name + ": no such port";
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            // A COM port is opened exclusively: Windows refuses a second open so.
            return name + ": in use by another program";
        default:
            return name + ": " + ErrorText(error);
    }
}

namespace {

// The name as CreateFileW reads it: Windows' own reading of a Win32 path, taken only where it
// lands in the device namespace (a name that is no DOS device, "COM12", would otherwise become a
// file in the current folder). "\\?\" and "\??\" go to the object namespace as written, which
// that reading would not keep ("\??\x\COM4" is no COM4).
std::string WindowsReading(const std::string& name) {
    if (name.compare(0, 4, "\\\\?\\") == 0 || name.compare(0, 4, "\\??\\") == 0) {
        return name;
    }
    const std::wstring wide = Wide(name);
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    const DWORD m = n > 0 ? GetFullPathNameW(wide.c_str(), n, full.data(), nullptr) : 0;
    full.resize(m < n ? m : 0);
    const bool device = full.compare(0, 4, L"\\\\.\\") == 0 || full.compare(0, 4, L"\\\\?\\") == 0;
    return device ? Utf8(full) : name;
}

// A DOS device name that links to another names that one's device: AUX is COM1 on every Windows
// (and another alias may be defined). Followed to the name a link ends at, a few links deep.
std::string LinkedName(std::string key) {
    for (int links = 0; links < 4 && !key.empty() && key.find('\\') == std::string::npos; ++links) {
        wchar_t target[1024];
        if (QueryDosDeviceW(Wide(key).c_str(), target, 1024) == 0) {
            break;
        }
        const std::string to = Utf8(target);
        std::string next;
        for (const std::string via : {"\\DosDevices\\", "\\??\\"}) {
            if (to.size() > via.size() && to.compare(0, via.size(), via) == 0) {
                next = PortKey(to.substr(via.size()));
            }
        }
        if (next.empty()) {
            break;
        }
        key = next;
    }
    return key;
}

// A name as Windows reads it, its key, and the key its DOS links lead to.
struct DosName {
    std::string reading;
    std::string key;
    std::string linked;
};

DosName ReadName(const std::string& name) {
    DosName n;
    n.reading = WindowsReading(name);
    n.key = PortKey(n.reading);
    n.linked = LinkedName(n.key);
    return n;
}

}  // namespace

std::string DeviceKeyOf(const std::string& name) {
    return ReadName(name).linked;
}

std::string ComPortOf(const std::string& name) {
    const DosName n = ReadName(name);
    return ComPortName(n.linked == n.key ? n.reading : n.linked);
}

std::string DeviceNameOf(const std::string& name) {
    const DosName n = ReadName(name);
    if (n.reading.compare(0, 4, "\\\\.\\") != 0 && n.reading.compare(0, 4, "\\\\?\\") != 0 &&
        n.reading.compare(0, 4, "\\??\\") != 0) {
        return "";
    }
    if (LeavesDosDevices(n.reading)) {
        return n.key;
    }
    return n.linked.find('\\') == std::string::npos ? n.linked : "";
}

void Win32Link::TraceTo(TraceWriter* trace) {
    trace_ = trace;
}

HANDLE Win32Link::OpenHandle(bool usb, std::string& failure, std::string& opened) const {
    HANDLE h = INVALID_HANDLE_VALUE;
    if (!port_.empty()) {
        const std::string com = ComPortOf(port_);
        opened = com.empty() ? port_ : com;
        if (com.empty() && LeavesDosDevices(WindowsReading(port_))) {
            // A device opened past its DOS names would be locked under a name none of them
            // shares: another update could take it by its COM name meanwhile.
            failure = port_ + ": not a port name (give the port's COM name)";
            return h;
        }
        h = com.empty() ? CreateFileW(Wide(port_).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                        : OpenSerialPort(com.c_str());
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            // Windows refuses a folder with the error of a port in use: say what it is instead.
            const DWORD attributes =
                com.empty() ? GetFileAttributesW(Wide(port_).c_str()) : INVALID_FILE_ATTRIBUTES;
            failure = attributes != INVALID_FILE_ATTRIBUTES &&
                              (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                          ? port_ + ": not a serial port"
                          : OpenFailure(port_, error);
        } else if (!IsSerialPort(h)) {
            // A file, a volume, NUL or a pipe named by mistake: the requests would be written into
            // it, or go nowhere, and the update end as a controller that never answered.
            CloseHandle(h);
            h = INVALID_HANDLE_VALUE;
            failure = port_ + ": not a serial port";
        }
        return h;
    }
    if (!instance_.empty()) {
        h = OpenController(instance_);
        opened = instance_;
        if (h == INVALID_HANDLE_VALUE) {
            failure = instance_ + ": the controller is not attached, or it cannot be opened";
        }
        return h;
    }
    if (!usb) {
        failure = "no serial port found (give one with --port)";
        return h;
    }
    h = OpenMyDevPipe("");
    opened = "USB";
    if (h == INVALID_HANDLE_VALUE) {
        failure = std::string("USB: no controller (") + kControllerVendorId + ":" +
                  kControllerProductId + ") found on the USB link, or it cannot be opened";
    }
    return h;
}

Device* Win32Link::Open(bool usb, std::string& failure) {
    std::lock_guard<std::timed_mutex> lock(mutex_);
    traced_.reset();
    device_.Close();
    std::string opened;
    const HANDLE h = OpenHandle(usb, failure, opened);
    if (h == INVALID_HANDLE_VALUE) {
        if (trace_ != nullptr) {
            trace_->Note("open failed " + failure);
        }
        return nullptr;
    }
    device_.Attach(h);
    if (usb) {
        device_.KeepModemLines();  // a USB-linked model's port, the COM port given included
    }
    opened_ = opened;
    if (trace_ != nullptr) {
        trace_->Note("open " + opened_);
        if (usb) {
            trace_->Note("DTR and RTS kept raised (the USB link)");
        }
        traced_ = std::make_unique<TracingDevice>(device_, *trace_, RequestName);
        return traced_.get();
    }
    return &device_;
}

void Win32Link::Close(Device* device) {
    std::lock_guard<std::timed_mutex> lock(mutex_);
    if (device_.IsOpen() && (device == &device_ || (traced_ && device == traced_.get()))) {
        if (trace_ != nullptr) {
            trace_->Note("close " + opened_);
        }
        hungUp_ = device_.hungUp();
        traced_.reset();
        device_.Close();
    }
}

bool Win32Link::LastDeviceHungUp() const {
    std::lock_guard<std::timed_mutex> lock(mutex_);
    return device_.IsOpen() ? device_.hungUp() : hungUp_;
}

std::string Win32Link::OpenedPath() const {
    std::lock_guard<std::timed_mutex> lock(mutex_);
    return opened_;
}

void Win32Link::ReleaseForExit(std::chrono::steady_clock::time_point giveUpAt) {
    // Nothing more sent: a reply that comes before the end would lead the worker on, to an erase
    // that the last words do not tell.
    device_.StopWriting();
    if (!mutex_.try_lock_until(giveUpAt)) {
        return;  // an open or a close under way: the process ends without waiting for it
    }
    if (device_.IsOpen()) {
        PurgeComm(device_.handle(), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    }
    // The mutex stays taken: the worker cannot open or close the port before the process ends.
}

}  // namespace fwburn::console

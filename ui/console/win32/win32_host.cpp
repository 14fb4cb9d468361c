#include "ui/console/win32/win32_host.hpp"

#include <algorithm>

#include "link/win32/device_list.hpp"
#include "link/win32/port_identity.hpp"
#include "link/win32/update_lock.hpp"
#include "ui/console/session/queued_trace.hpp"
#include "ui/console/win32/console_modes.hpp"
#include "ui/console/win32/control_events.hpp"
#include "ui/console/win32/ending_events.hpp"
#include "ui/console/win32/text.hpp"
#include "ui/console/win32/win32_link.hpp"

namespace fwburn::console {

namespace {

// How long an interrupted run gives the console for its last lines before it ends anyway.
constexpr std::chrono::milliseconds kLastWords(300);

class MutexLock final : public HeldLock {
  public:
    explicit MutexLock(std::unique_ptr<UpdateLock> lock) : lock_(std::move(lock)) {}
    void Release() override { lock_->Release(); }

  private:
    std::unique_ptr<UpdateLock> lock_;
};

Host::Event EndingEvent(const Ending& ending) {
    Host::Event event;
    event.signal = ending.status - 128;
    event.signalName = ending.name;
    event.signalStatus = ending.status;
    return event;
}

// `product` as link/win32 reads it for the window: in the ANSI code page.
UsbPort ControllerPort(const std::string& tty, const std::string& instance,
                       const std::string& product) {
    UsbPort port;
    port.tty = tty;
    port.physical = instance;
    port.serial = SerialOfInstance(instance);
    port.product = Utf8FromAnsi(product);
    port.vendorId = kControllerVendorId;
    port.productId = kControllerProductId;
    return port;
}

std::optional<ComPortEntry> FindComPort(const std::string& name) {
    const auto ports = ListComPorts();
    if (ports) {
        for (const ComPortEntry& port : *ports) {
            if (port.name == name) {
                return port;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

Win32Host::Win32Host()
    : output_(GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE)),
      wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    TakeControlEvents();
}

Win32Host::~Win32Host() {
    if (wake_ != nullptr) {
        CloseHandle(wake_);
    }
}

bool Win32Host::Failed() const {
    return ControlEventObject() == nullptr || wake_ == nullptr || output_.out() == nullptr ||
           output_.err() == nullptr || output_.wakeEvent() == nullptr;
}

int Win32Host::Columns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

// The window's height, not the buffer's: the board must not climb past what is on screen.
int Win32Host::Rows() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return 0;
    }
    return info.srWindow.Bottom - info.srWindow.Top + 1;
}

void Win32Host::Wake() {
    SetEvent(wake_);
}

Host::Event Win32Host::Wait(Clock::time_point deadline, bool answering) {
    if (answering) {
        keyboard_.Start();
    }
    HANDLE objects[4] = {ControlEventObject(), output_.wakeEvent(), wake_, keyboard_.ready()};
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    WaitForMultipleObjects(
        answering ? 4 : 3, objects, FALSE,
        static_cast<DWORD>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0)));
    unsigned long control = 0;
    if (ControlEventCame(control)) {
        return EndingEvent(EndingForControlEvent(control));
    }
    // The reader of stdout or stderr has gone: what SIGPIPE ends on Linux.
    if (output_.BrokenPipe()) {
        return EndingEvent(BrokenPipeEnding());
    }
    Event event;
    long n = 0;
    char c = 0;
    int error = 0;
    // One byte at a time: a line typed ahead, or piped in, answers one question and no more.
    if (answering && keyboard_.Take(n, c, error)) {
        event.answer = answerInput_.Take(n, c, error);
        DWORD mode = 0;
        event.echoed = event.answer && n == 1 && (c == '\n' || c == '\r') &&
                       GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0 &&
                       (mode & ENABLE_ECHO_INPUT) != 0;
    }
    return event;
}

std::unique_ptr<HeldLock> Win32Host::Lock(const std::vector<std::string>& identities, bool shared,
                                          const std::string& what, std::string& refusal) {
    auto lock = std::make_unique<UpdateLock>();
    if (lock->Take(identities, shared ? UpdateLock::Mode::kShared : UpdateLock::Mode::kExclusive) ==
        UpdateLock::Status::kHeld) {
        return std::make_unique<MutexLock>(std::move(lock));
    }
    // The port as the user named it, and what it stands for when that differs.
    const std::string& busy = lock->busyIdentity();
    std::string named = busy == kUsbLinkIdentity ? "the PLC on USB" : busy;
    if (!what.empty() && what != busy && busy != kUsbLinkIdentity) {
        named = what + " (" + named + ")";
    }
    refusal = lock->Refusal(named);
    return nullptr;
}

std::string Win32Host::UsbLinkIdentity() {
    return kUsbLinkIdentity;
}

std::unique_ptr<SessionLink> Win32Host::MakeLink(const Target& target) {
    // A controller that discovery found is opened as the window opens it, by its instance; a
    // port given or chosen, by its name.
    if (target.pinned() && ComPortOf(target.port).empty()) {
        return std::make_unique<Win32Link>("", target.physical);
    }
    return std::make_unique<Win32Link>(target.port, "");
}

std::unique_ptr<QueuedTrace> Win32Host::OpenTrace(const std::string& path, int& error) {
    return TraceOn(path, OpenTraceFile(path, error));
}

bool Win32Host::Drain() {
    output_.DrainUntil(Clock::now());  // flushes the streams
    while (!output_.Idle()) {
        if (WaitForSingleObject(ControlEventObject(), 10) == WAIT_OBJECT_0) {
            return false;
        }
    }
    return true;
}

std::string Win32Host::LostOutput() {
    for (const size_t to : {0, 1}) {
        if (const DWORD error = output_.WriteError(to); error != 0) {
            return std::string(to == 0 ? "stdout: " : "stderr: ") + ErrorText(error);
        }
    }
    return {};
}

void Win32Host::LastWords() {
    output_.DrainUntil(Clock::now() + kLastWords);
}

void Win32Host::Exit(int status) {
    RestoreConsole();
    // As _exit on Linux: no cleanup that could wait on a lock a worker holds. The ports and the
    // mutexes go with the process.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    ExitProcess(static_cast<UINT>(status));
}

std::vector<UsbPort> Win32Host::Controllers() {
    std::vector<UsbPort> found;
    for (const ControllerDevice& c : ListControllers()) {
        found.push_back(ControllerPort(c.path, c.instance, c.description));
    }
    return found;
}

std::vector<std::string> Win32Host::SerialPorts() {
    std::vector<std::string> names;
    if (const auto ports = ListComPorts()) {
        for (const ComPortEntry& port : *ports) {
            names.push_back(port.name);
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::optional<UsbPort> Win32Host::Describe(const std::string& port) {
    const std::string com = ComPortOf(port);
    if (!com.empty()) {
        const std::optional<ComPortEntry> entry = FindComPort(com);
        if (!entry || !IsControllerInstance(entry->instance)) {
            return std::nullopt;
        }
        return ControllerPort(com, DeviceOfInstance(entry->instance), entry->friendlyName);
    }
    for (const ControllerDevice& c : ListControllers()) {
        if (PortKey(c.path) == PortKey(port)) {
            return ControllerPort(c.path, c.instance, c.description);
        }
    }
    return std::nullopt;
}

std::string Win32Host::DeviceKey(const std::string& port) {
    return DeviceKeyOf(port);
}

std::string Win32Host::LockIdentity(const std::string& port) {
    return DeviceKeyOf(port);
}

std::string Win32Host::FriendlyName(const std::string& port) {
    const std::optional<ComPortEntry> entry = FindComPort(ComPortName(port));
    return entry ? Utf8FromAnsi(entry->friendlyName) : std::string();
}

}  // namespace fwburn::console

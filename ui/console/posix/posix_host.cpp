#include "ui/console/posix/posix_host.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/posix/port_holder.hpp"
#include "ui/console/posix/port_lock.hpp"
#include "ui/console/posix/posix_link.hpp"
#include "ui/console/posix/signals.hpp"
#include "ui/console/posix/sleep_inhibitor.hpp"
#include "ui/console/session/queued_trace.hpp"
#include "ui/console/show/wording.hpp"

namespace fwburn::console {

namespace {

// How long an interrupted run gives the terminal for its last lines before it ends anyway.
constexpr std::chrono::milliseconds kLastWords(300);

// Where discovery looks: the system's trees, or those a test lays out. Every kind of run looks
// in the same ones.
std::string RootFor(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? value : fallback;
}

// A line typed at the terminal is the foreground's. In the background the program leaves it to
// the shell: a read would stop it (SIGTTIN), and once brought back the read would wait for a line
// the shell had taken, deaf to Ctrl-C meanwhile. It asks again when continued in the foreground.
bool InBackground() {
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    return foreground > 0 && foreground != getpgrp();
}

}  // namespace

PosixHost::PosixHost()
    : sysRoot_(RootFor("FWBURN_SYSFS_ROOT", "/sys")),
      devRoot_(RootFor("FWBURN_DEV_ROOT", "/dev")),
      output_(STDOUT_FILENO, STDERR_FILENO),
      signalFd_(TakeEndingSignals()),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      stopFd_(TakeStopKey()) {}

PosixHost::~PosixHost() {
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
    if (stopFd_ >= 0) {
        close(stopFd_);
    }
}

void PosixHost::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t done = write(wakeFd_, &one, sizeof one);
}

Host::Event PosixHost::Signal(int signo) {
    Event event;
    event.signal = signo;
    event.signalName = EndingSignalName(signo);
    event.signalStatus = ExitStatusForSignal(signo);
    return event;
}

Host::Event PosixHost::Wait(Clock::time_point deadline, bool answering) {
    const bool background = answering && InBackground();
    const bool broughtBack = background_ && answering && !background;
    background_ = background;
    answering = answering && !background;
    pollfd fds[5] = {{signalFd_, POLLIN, 0},
                     {wakeFd_, POLLIN, 0},
                     {answering ? STDIN_FILENO : -1, POLLIN, 0},
                     {output_.wakeFd(), POLLIN, 0},
                     {stopFd_, POLLIN, 0}};
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    poll(fds, 5, static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0)));
    if (const int signo = (fds[0].revents & POLLIN) != 0 ? TakeSignal(signalFd_) : 0) {
        return Signal(signo);
    }
    if ((fds[3].revents & POLLIN) != 0) {
        output_.Take();
        // The reader of stdout or stderr has gone: what SIGPIPE would have said.
        if (output_.BrokenPipe()) {
            return Signal(SIGPIPE);
        }
    }
    Event event;
    event.foreground = broughtBack;  // `fg` of a running job sends no signal
    const int stop = (fds[4].revents & POLLIN) != 0 ? TakeSignal(stopFd_) : 0;
    event.suspend = stop == SIGTSTP;
    event.resumed = stop == SIGCONT;
    if ((fds[1].revents & POLLIN) != 0) {
        // Before the session takes the requests: a wake-up after this comes with a later one.
        uint64_t count;
        [[maybe_unused]] const ssize_t done = read(wakeFd_, &count, sizeof count);
    }
    // One byte at a time: a line typed ahead, or piped in, answers one question and no more.
    if (answering && fds[2].revents != 0) {
        char c = 0;
        const ssize_t n = (fds[2].revents & POLLNVAL) != 0 ? 0 : read(STDIN_FILENO, &c, 1);
        event.answer = answerInput_.Take(n, c, errno);
        termios mode{};
        event.echoed = event.answer && n == 1 && (c == '\n' || c == '\r') &&
                       tcgetattr(STDIN_FILENO, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
    }
    return event;
}

std::unique_ptr<HeldLock> PosixHost::Lock(const std::vector<std::string>& identities, bool shared,
                                          const std::string& what, std::string& refusal) {
    auto lock = std::make_unique<PortLock>();
    if (lock->Take(identities, LockDirectories(),
                   shared ? PortLock::Mode::kShared : PortLock::Mode::kExclusive) ==
        PortLock::Status::kHeld) {
        return lock;
    }
    // The port as the user named it, and what it resolved to when that differs.
    const std::string& busy = lock->busyIdentity();
    std::string named = busy == UsbControllerIdentity() ? "the PLC on USB" : busy;
    if (!what.empty() && what != busy && busy != UsbControllerIdentity()) {
        named = what + " (" + named + ")";
    }
    refusal = LockRefusal(named, lock->holder(), posix::ProgramName(lock->holder()),
                          lock->busyFile(), lock->why());
    return nullptr;
}

std::string PosixHost::UsbLinkIdentity() {
    return UsbControllerIdentity();
}

std::unique_ptr<HeldLock> PosixHost::StayAwake(const std::string& program) {
    return InhibitSleep(program);
}

std::unique_ptr<SessionLink> PosixHost::MakeLink(const Target& target) {
    if (!target.pinned()) {
        return std::make_unique<PosixLink>(target.port, sysRoot_, devRoot_);
    }
    const std::string sys = sysRoot_;
    const std::string dev = devRoot_;
    return std::make_unique<PosixLink>(
        [target, sys, dev] {
            return posix::FindControllerTty(target.physical, target.serial, sys, dev,
                                            target.usbInterface);
        },
        target.Identity() + ": the controller is not attached");
}

std::unique_ptr<QueuedTrace> PosixHost::OpenTrace(const std::string& path, int& error) {
    return TraceOn(path, OpenTraceFile(path, error));
}

// The stop key taken at once would leave the cursor hidden and the status line half drawn for the
// shell: the session has put the terminal right, and its lines get their moment first.
void PosixHost::Suspend() {
    output_.DrainUntil(Clock::now() + kLastWords);
    StopAsTheKeyWould();
}

bool PosixHost::Drain() {
    output_.DrainUntil(Clock::now());  // flushes the streams
    for (;;) {
        output_.Take();
        if (output_.Idle()) {
            return true;
        }
        pollfd fds[3] = {
            {signalFd_, POLLIN, 0}, {output_.wakeFd(), POLLIN, 0}, {stopFd_, POLLIN, 0}};
        poll(fds, 3, -1);
        if ((fds[0].revents & POLLIN) != 0) {
            return false;
        }
        // Waiting on a terminal stopped with Ctrl-S, Ctrl-Z still stops the program.
        if ((fds[2].revents & POLLIN) != 0 && TakeSignal(stopFd_) == SIGTSTP) {
            StopAsTheKeyWould();
        }
    }
}

std::string PosixHost::LostOutput() {
    for (const size_t to : {0, 1}) {
        if (const int error = output_.WriteError(to); error != 0) {
            return std::string(to == 0 ? "stdout: " : "stderr: ") + std::strerror(error);
        }
    }
    return {};
}

void PosixHost::LastWords() {
    output_.DrainUntil(Clock::now() + kLastWords);
}

void PosixHost::Exit(int status) {
    _exit(status);
}

std::vector<posix::UsbPort> PosixHost::Controllers() {
    return posix::FindUsbControllers(sysRoot_, devRoot_);
}

std::vector<std::string> PosixHost::SerialPorts() {
    return posix::ListSerialPorts(sysRoot_, devRoot_);
}

std::optional<posix::UsbPort> PosixHost::Describe(const std::string& port) {
    return posix::DescribeUsbTty(port, sysRoot_, devRoot_);
}

// Two names of one character device, symbolic links or not, open the same device.
std::string PosixHost::DeviceKey(const std::string& port) {
    struct stat st {};
    if (stat(port.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        return "char " + std::to_string(major(st.st_rdev)) + ":" +
               std::to_string(minor(st.st_rdev));
    }
    return PortIdentity(port);
}

std::string PosixHost::LockIdentity(const std::string& port) {
    return PortIdentity(port);
}

}  // namespace fwburn::console

#include "sim/plcsim/pty_server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

namespace fwburn::sim::plcsim {

namespace {

constexpr int64_t kNever = INT64_MAX;
// While the controller restarts by itself nothing else may wake the loop; its state should still
// be current when it is logged or summarised.
constexpr int64_t kRestartLookUs = 50000;
// A host that keeps the port open after a complete transfer has read the last ACK by then.
constexpr int64_t kCompleteLingerUs = 1000000;
// A served tty that went away is looked for again this often.
constexpr int64_t kReopenLookUs = 100000;
// How long a replugged cable stays out, and how long an unplug may take to reach the line.
constexpr useconds_t kCableOutUs = 200000;
constexpr int kHangUpWaitMs = 1000;

struct BaudEntry {
    speed_t speed;
    uint32_t baud;
};
constexpr BaudEntry kBauds[] = {
    {B0, 0},
    {B50, 50},
    {B75, 75},
    {B110, 110},
    {B134, 134},
    {B150, 150},
    {B200, 200},
    {B300, 300},
    {B600, 600},
    {B1200, 1200},
    {B1800, 1800},
    {B2400, 2400},
    {B4800, 4800},
    {B9600, 9600},
    {B19200, 19200},
    {B38400, 38400},
    {B57600, 57600},
    {B115200, 115200},
    {B230400, 230400},
    {B460800, 460800},
    {B500000, 500000},
    {B576000, 576000},
    {B921600, 921600},
    {B1000000, 1000000},
    {B1152000, 1152000},
    {B1500000, 1500000},
    {B2000000, 2000000},
    {B2500000, 2500000},
    {B3000000, 3000000},
    {B3500000, 3500000},
    {B4000000, 4000000},
};

uint32_t BaudOf(speed_t speed) {
    for (const BaudEntry& e : kBauds) {
        if (e.speed == speed) {
            return e.baud;
        }
    }
    return 0;
}

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

PtyServer::PtyServer(Controller& controller, ServeOptions options)
    : controller_(controller),
      options_(std::move(options)),
      tty_(!options_.ttyPath.empty()),
      lastState_(controller.state()) {}

PtyServer::~PtyServer() {
    // A USB gadget's tty waits on close until the replies nobody read have drained (up to its
    // closing wait, 30 s), and the next controller on that gadget cannot open it meanwhile. A
    // controller that goes away takes what it had not sent with it.
    if (tty_ && master_ >= 0) {
        tcflush(master_, TCIOFLUSH);
    }
    for (int fd : {signals_, watch_, master_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (maskChanged_) {
        sigprocmask(SIG_SETMASK, &oldMask_, nullptr);
    }
}

std::string PtyServer::Open() {
    // The signals are ours before anybody learns the port's name: a test that sends SIGUSR1
    // right after reading it must not kill us.
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) {
        sigaddset(&set, s);
    }
    if (sigprocmask(SIG_BLOCK, &set, &oldMask_) != 0) {
        return Errno("sigprocmask");
    }
    maskChanged_ = true;
    signals_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals_ < 0) {
        return Errno("signalfd");
    }

    if (tty_) {
        if (!options_.udcFile.empty()) {
            udc_.emplace(options_.udcFile);
            if (const std::string e = udc_->Load(); !e.empty()) {
                return e;
            }
        }
        facts_.slavePath = options_.ttyPath;
        startUs_ = NowUs();  // the controller's time 0
        return OpenLine();
    }
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        return Errno("posix_openpt");
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        return Errno("ptsname");
    }
    facts_.slavePath = name;
    // The termios calls on a master act on its slave. What a serial port holds before any host
    // has set it: raw 9600 8N1. Raw also means no echo: the controller's replies must not come
    // back as host input.
    termios t{};
    if (tcgetattr(master_, &t) != 0) {
        return Errno("tcgetattr");
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    if (tcsetattr(master_, TCSANOW, &t) != 0) {
        return Errno("tcsetattr");
    }
    // A master cannot tell that a slave was opened; the node's open events can.
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0 || inotify_add_watch(watch_, name, IN_OPEN) < 0) {
        return Errno("inotify");
    }
    startUs_ = NowUs();  // the controller's time 0
    return "";
}

// The served tty, raw: a gadget's tty starts with echo and canonical input, and comes back so
// after every replug.
std::string PtyServer::OpenLine() {
    const int fd = open(options_.ttyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return Errno(options_.ttyPath.c_str());
    }
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        const std::string e = Errno(options_.ttyPath.c_str());
        close(fd);
        return e;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        const std::string e = Errno(options_.ttyPath.c_str());
        close(fd);
        return e;
    }
    tcflush(fd, TCIOFLUSH);
    master_ = fd;
    connected_ = true;
    hungUp_ = false;
    sessionBytes_ = 0;
    reopenDueUs_ = -1;
    Log("serving " + options_.ttyPath);
    return "";
}

// The served tty hung up (its USB device went away): what was on its way is lost.
void PtyServer::LineHungUp(const char* why) {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
    connected_ = false;
    hungUp_ = true;
    DropOutput();
    reopenDueUs_ = NowUs() + kReopenLookUs;
    Log(std::string("the line hung up (") + why + ")");
}

void PtyServer::TryReopen(int64_t nowUs) {
    if (!tty_ || master_ >= 0 || reopenDueUs_ < 0 || nowUs < reopenDueUs_ ||
        (udc_ && !udc_->plugged())) {
        return;
    }
    if (OpenLine().empty()) {
        return;
    }
    reopenDueUs_ = nowUs + kReopenLookUs;
}

int64_t PtyServer::NowUs() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000 - startUs_;
}

PtyServer::LineNow PtyServer::CurrentLine() const {
    LineNow line;
    termios t{};
    if (tcgetattr(master_, &t) != 0) {
        return line;
    }
    line.settings.baudRate = BaudOf(cfgetospeed(&t));
    const tcflag_t size = t.c_cflag & CSIZE;
    line.settings.byteSize = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    line.settings.parity = (t.c_cflag & PARENB) == 0 ? kNoParity : (t.c_cflag & PARODD) ? 1 : 2;
    line.settings.stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : kOneStopBit;
    line.bitsPerByte = 1u + line.settings.byteSize + (line.settings.parity != kNoParity ? 1u : 0u) +
                       ((t.c_cflag & CSTOPB) != 0 ? 2u : 1u);
    return line;
}

int64_t PtyServer::WireUs(const LineNow& line, size_t bytes) const {
    if (!options_.wire || line.settings.baudRate == 0) {
        return 0;
    }
    return static_cast<int64_t>(bytes) * line.bitsPerByte * 1000000 / line.settings.baudRate;
}

std::string PtyServer::Run() {
    const std::string failure = Serve();
    if (!failure.empty()) {
        Finish(failure);
    }
    controller_.AdvanceTo(Ms(NowUs()));
    return failure;
}

std::string PtyServer::Serve() {
    while (!stop_) {
        const int64_t now = NowUs();
        Step(now);
        if (const std::string e = WriteDue(now); !e.empty()) {
            return e;
        }
        CheckFinished(now);
        if (stop_) {
            break;
        }
        const int64_t next = NextDueUs(now);
        timespec wait{};
        timespec* waitPtr = nullptr;
        if (next != kNever) {
            const int64_t us = std::max<int64_t>(0, next - now);
            wait.tv_sec = us / 1000000;
            wait.tv_nsec = (us % 1000000) * 1000;
            waitPtr = &wait;
        }
        // While no slave is open the master reports a hang-up without end: leave it out then.
        pollfd fds[3] = {
            {hungUp_ || master_ < 0 ? -1 : master_,
             static_cast<short>(POLLIN | (txBlocked_ ? POLLOUT : 0)), 0},
            {watch_, POLLIN, 0},
            {signals_, POLLIN, 0},
        };
        if (ppoll(fds, 3, waitPtr, nullptr) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Errno("poll");
        }
        if (tty_ && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            LineHungUp("poll");
            continue;
        }
        if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) {
            return "the pseudo-terminal failed";
        }
        if ((fds[0].revents & POLLOUT) != 0) {
            txBlocked_ = false;
        }
        // An open first: the bytes that came with it belong to the new session.
        if ((fds[1].revents & POLLIN) != 0) {
            if (const std::string e = HandleWatch(); !e.empty()) {
                return e;
            }
        }
        if ((fds[0].revents & (POLLIN | POLLHUP)) != 0) {
            if (const std::string e = DrainMaster(); !e.empty()) {
                return e;
            }
        }
        if ((fds[2].revents & POLLIN) != 0) {
            HandleSignals();
        }
        if (!failure_.empty()) {
            return failure_;
        }
    }
    return failure_;
}

void PtyServer::Step(int64_t nowUs) {
    FeedDue(nowUs);
    controller_.AdvanceTo(Ms(nowUs));
    Collect();
    WatchState(nowUs);
    TryReopen(nowUs);
}

void PtyServer::WatchState(int64_t nowUs) {
    const State state = controller_.state();
    const bool usb = controller_.model().link == LinkKind::kUsb;
    if (state != lastState_) {
        Log(std::string(StateName(lastState_)) + " -> " + StateName(state));
        const bool waiting = state == State::kAwaitingReplug || state == State::kAwaitingPowerCycle;
        reconnectDueUs_ = waiting && options_.reconnectAfterMs >= 0
                              ? nowUs + options_.reconnectAfterMs * 1000
                              : -1;
        const State before = lastState_;
        lastState_ = state;
        // A USB model that restarts by itself leaves the bus and enumerates anew.
        if (before == State::kRestarting && usb && udc_) {
            UsbUnplug("the controller restarts");
            usleep(kCableOutUs);
            UsbPlug();
        }
    }
    if (controller_.LinkLost() != linkLostSeen_) {
        linkLostSeen_ = controller_.LinkLost();
        if (linkLostSeen_ && usb && udc_) {
            UsbUnplug("the link is lost");  // until a replug (SIGUSR1)
        }
    }
    if (reconnectDueUs_ >= 0 && nowUs >= reconnectDueUs_) {
        reconnectDueUs_ = -1;
        OperatorReconnect(nowUs);
    }
}

void PtyServer::OperatorReconnect(int64_t nowUs) {
    const State state = controller_.state();
    if (!options_.autoReconnect) {
        // The operator pulls the cable and walks away: it stays out until SIGUSR1.
        if (udc_ && state == State::kAwaitingReplug) {
            UsbUnplug("the cable is pulled for good");
        }
        return;
    }
    if (state == State::kAwaitingReplug) {
        Replug(nowUs, "the operator");
    } else if (state == State::kAwaitingPowerCycle) {
        PowerCycle(nowUs, "the operator");
    }
}

void PtyServer::UsbUnplug(const char* why) {
    if (!udc_ || !udc_->plugged()) {
        return;
    }
    if (const std::string e = udc_->Unplug(); !e.empty()) {
        failure_ = e;
        return;
    }
    ++facts_.usbUnplugs;
    Log(std::string("USB unplugged (") + why + ")");
    // The hang-up must land on this descriptor before it is closed: the same tty opened after the
    // replug would otherwise take it.
    if (master_ >= 0) {
        const int64_t until = NowUs() + int64_t{kHangUpWaitMs} * 1000;
        for (int64_t now = NowUs(); now < until; now = NowUs()) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>((until - now) / 1000) + 1) < 0 && errno != EINTR) {
                break;
            }
            if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                break;
            }
            uint8_t discard[256];
            if ((p.revents & POLLIN) != 0 && read(master_, discard, sizeof discard) == 0) {
                break;
            }
        }
    }
    LineHungUp(why);
    reopenDueUs_ = -1;  // until the gadget is bound again
}

void PtyServer::UsbPlug() {
    if (!udc_ || udc_->plugged()) {
        return;
    }
    if (const std::string e = udc_->Plug(); !e.empty()) {
        failure_ = e;
        return;
    }
    Log("USB plugged in");
    if (master_ < 0) {
        reopenDueUs_ = NowUs();
        TryReopen(reopenDueUs_);
    }
}

void PtyServer::FeedDue(int64_t nowUs) {
    while (!incoming_.empty() && incoming_.front().dueUs <= nowUs) {
        Incoming item = std::move(incoming_.front());
        incoming_.pop_front();
        if (item.hostClosed) {
            HostGone(item.dueUs, item.hostTalked);
            continue;
        }
        const bool usb = controller_.model().link == LinkKind::kUsb;
        controller_.Receive(item.bytes.data(), item.bytes.size(), Ms(item.dueUs),
                            usb ? nullptr : &item.line);
        // Item by item, so that a lost link drops what came before it, as in the in-process link.
        Collect();
    }
}

void PtyServer::Collect() {
    for (Emission& e : controller_.TakeOutput()) {
        if (controller_.LinkLost()) {
            facts_.bytesDropped += e.bytes.size();
            continue;
        }
        Outgoing out{e.atMs * 1000, std::move(e.bytes)};
        // A late reply may come due after one emitted later: keep the queue in time order.
        const auto at = std::upper_bound(pending_.begin(), pending_.end(), out.atUs,
                                         [](int64_t t, const Outgoing& o) { return t < o.atUs; });
        pending_.insert(at, std::move(out));
    }
    if (controller_.LinkLost() && (sending_ || !pending_.empty())) {
        DropOutput();
    }
}

std::string PtyServer::WriteDue(int64_t nowUs) {
    while (!txBlocked_) {
        if (!sending_) {
            if (pending_.empty() || pending_.front().atUs > nowUs) {
                return "";
            }
            current_ = std::move(pending_.front());
            pending_.pop_front();
            sending_ = true;
            currentDone_ = 0;
            currentLine_ = CurrentLine();
            currentStartUs_ = options_.wire ? std::max(current_.atUs, txFreeUs_) : current_.atUs;
        }
        // Bytes whose last bit has crossed the line by now.
        size_t due = current_.bytes.size();
        if (options_.wire) {
            while (due > currentDone_ && currentStartUs_ + WireUs(currentLine_, due) > nowUs) {
                --due;
            }
        }
        if (due > currentDone_) {
            const size_t n = due - currentDone_;
            if (!connected_) {
                // Nobody listens: the bytes are lost, as on an unplugged line.
                facts_.bytesDropped += n;
                currentDone_ = due;
            } else {
                const ssize_t w = write(master_, current_.bytes.data() + currentDone_, n);
                if (w < 0 && errno != EAGAIN && errno != EINTR) {
                    return Errno("write to the pseudo-terminal");
                }
                if (w > 0) {
                    currentDone_ += static_cast<size_t>(w);
                    facts_.bytesSent += static_cast<uint64_t>(w);
                }
                if (w < 0 || static_cast<size_t>(w) < n) {
                    txBlocked_ = true;  // the host's input queue is full: wait until it reads
                    return "";
                }
            }
        }
        if (currentDone_ < current_.bytes.size()) {
            return "";
        }
        txFreeUs_ = currentStartUs_ + WireUs(currentLine_, current_.bytes.size());
        sending_ = false;
    }
    return "";
}

int64_t PtyServer::NextDueUs(int64_t nowUs) const {
    int64_t next = kNever;
    if (!incoming_.empty()) {
        next = incoming_.front().dueUs;
    }
    if (!txBlocked_) {
        if (sending_) {
            next = std::min(next, currentStartUs_ + WireUs(currentLine_, currentDone_ + 1));
        } else if (!pending_.empty()) {
            next = std::min(next, pending_.front().atUs);
        }
    }
    if (controller_.state() == State::kRestarting) {
        next = std::min(next, nowUs + kRestartLookUs);
    }
    if (reconnectDueUs_ >= 0) {
        next = std::min(next, reconnectDueUs_);
    }
    if (tty_ && master_ < 0 && reopenDueUs_ >= 0) {
        next = std::min(next, std::max(reopenDueUs_, nowUs));
    }
    if (completeSinceUs_ >= 0) {
        next = std::min(next, completeSinceUs_ + kCompleteLingerUs);
    }
    return next;
}

void PtyServer::CheckFinished(int64_t nowUs) {
    if (!options_.exitAfterUpdate) {
        return;
    }
    const bool drained = incoming_.empty() && !sending_ && pending_.empty();
    if (!controller_.transferComplete() || !drained) {
        completeSinceUs_ = -1;
        return;
    }
    if (completeSinceUs_ < 0) {
        completeSinceUs_ = nowUs;
    }
    if (!connected_ || nowUs >= completeSinceUs_ + kCompleteLingerUs) {
        Finish("the transfer is complete");
    }
}

std::string PtyServer::DrainMaster() {
    uint8_t buffer[4096];
    for (;;) {
        // read() on an empty master first waits for the kernel to hand over what a host wrote
        // before, so EAGAIN or EIO means nothing written so far is still on its way.
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (tty_ && (n == 0 || (n < 0 && errno == EIO))) {
            LineHungUp("read");
            return "";
        }
        if (n < 0 && errno == EIO) {
            // Every host has closed the slave: the last of them is gone.
            hungUp_ = true;
            if (connected_) {
                connected_ = false;
                Log("the host closed the port");
                const int64_t now = NowUs();
                const int64_t due = incoming_.empty() ? now : incoming_.back().dueUs;
                incoming_.push_back({std::max(now, due), {}, {}, true, sessionBytes_ > 0});
            }
            return "";
        }
        if (n < 0 && errno != EAGAIN) {
            return Errno("read from the pseudo-terminal");
        }
        if (n <= 0) {
            return "";
        }
        const int64_t now = NowUs();
        const LineNow line = CurrentLine();
        facts_.bytesReceived += static_cast<uint64_t>(n);
        sessionBytes_ += static_cast<uint64_t>(n);
        if (facts_.baudRates.empty() || facts_.baudRates.back() != line.settings.baudRate) {
            facts_.baudRates.push_back(line.settings.baudRate);
        }
        int64_t due = now;
        if (options_.wire) {
            due = std::max(now, rxFreeUs_) + WireUs(line, static_cast<size_t>(n));
            rxFreeUs_ = due;
        }
        if (!incoming_.empty()) {
            due = std::max(due, incoming_.back().dueUs);
        }
        incoming_.push_back(
            {due, std::vector<uint8_t>(buffer, buffer + n), line.settings, false, false});
    }
}

std::string PtyServer::HandleWatch() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(watch_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return "";
        }
        for (ssize_t at = 0; at < n;) {
            inotify_event event{};
            std::memcpy(&event, buffer + at, sizeof event);
            at += static_cast<ssize_t>(sizeof event + event.len);
            if ((event.mask & IN_IGNORED) != 0) {
                return "the pseudo-terminal's slave node went away";
            }
            if ((event.mask & IN_OPEN) != 0) {
                ++facts_.hostOpens;
                if (!connected_) {
                    sessionBytes_ = 0;
                }
                // If it has closed again already, the master's hang-up says so at once.
                connected_ = true;
                hungUp_ = false;
                Log("a host opened the port");
            }
        }
    }
}

void PtyServer::HandleSignals() {
    signalfd_siginfo info{};
    while (read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        const int64_t now = NowUs();
        FeedDue(now);
        switch (info.ssi_signo) {
            case SIGUSR1:
                Replug(now, "SIGUSR1");
                break;
            case SIGUSR2:
                PowerCycle(now, "SIGUSR2");
                break;
            default:
                Finish(std::string("signal SIG") + sigabbrev_np(static_cast<int>(info.ssi_signo)));
                break;
        }
    }
}

void PtyServer::HostGone(int64_t nowUs, bool talked) {
    const State state = controller_.state();
    const bool reconnecting =
        state == State::kAwaitingReplug || state == State::kAwaitingPowerCycle;
    if (options_.autoReconnect) {
        if (state == State::kAwaitingReplug) {
            Replug(nowUs, "the host closed the port");
        } else if (state == State::kAwaitingPowerCycle) {
            PowerCycle(nowUs, "the host closed the port");
        } else if (controller_.LinkLost()) {
            Replug(nowUs, "the host closed the port of a lost link");
        }
    }
    if (connected_) {
        return;  // a host has opened the port again already
    }
    DropOutput();
    // A host that only opened and closed the port (a port scan) ended no update.
    if (options_.exitAfterUpdate && !reconnecting && talked) {
        Finish("the host closed the port after the update");
    }
}

void PtyServer::Replug(int64_t nowUs, const char* why) {
    const bool cable = udc_ && controller_.model().link == LinkKind::kUsb;
    if (cable && udc_->plugged()) {
        UsbUnplug(why);
        usleep(kCableOutUs);
    }
    controller_.Replug(Ms(nowUs));
    // A serial model does not restart on a replug, but its lost cable is back.
    if (controller_.LinkLost()) {
        controller_.RestoreLink();
    }
    if (controller_.model().link == LinkKind::kUsb) {
        DropOutput();  // the device went away with what it had not sent
    }
    ++facts_.replugs;
    Log(std::string("replug (") + why + ")");
    if (cable) {
        UsbPlug();
    }
}

void PtyServer::PowerCycle(int64_t nowUs, const char* why) {
    const bool cable = udc_ && controller_.model().link == LinkKind::kUsb;
    if (cable) {
        UsbUnplug(why);  // a controller switched off leaves the bus
        usleep(kCableOutUs);
    }
    controller_.PowerCycle(Ms(nowUs));
    DropOutput();  // what the controller had not yet sent died with it
    ++facts_.powerCycles;
    Log(std::string("power cycle (") + why + ")");
    if (cable) {
        UsbPlug();
    }
}

void PtyServer::DropOutput() {
    for (const Outgoing& o : pending_) {
        facts_.bytesDropped += o.bytes.size();
    }
    pending_.clear();
    if (sending_) {
        facts_.bytesDropped += current_.bytes.size() - currentDone_;
        sending_ = false;
    }
    txBlocked_ = false;
}

void PtyServer::Finish(const std::string& reason) {
    if (!stop_) {
        stop_ = true;
        facts_.endReason = reason;
        Log("stopping: " + reason);
    }
}

void PtyServer::Log(const std::string& text) const {
    if (options_.verbose) {
        std::fprintf(stderr, "plcsim [%lld ms] %s\n", static_cast<long long>(Ms(NowUs())),
                     text.c_str());
    }
}

}  // namespace fwburn::sim::plcsim

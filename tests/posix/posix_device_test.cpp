#include "link/posix/posix_device.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <utility>

#include "tests/posix/pty.hpp"

// This program's read() and write(): they hand every call to the C library's, except that a test
// can give them one thing to do after a read that found nothing or a write that found the line
// full, in place of the scheduler that stops the device's thread right there.
// They can also fail such a call with another error, as a signal or a second reader of the line
// would, while the test keeps one set.
namespace {
std::function<void(int fd)> afterEmptyRead;
std::function<void(int fd)> afterFullWrite;
std::atomic<int> emptyReadError{0};
std::atomic<int> fullWriteError{0};
}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t length) {
    using Read = ssize_t (*)(int, void*, size_t);
    static const Read next = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
    const ssize_t n = next(fd, buffer, length);
    if (n == 0 && afterEmptyRead) {
        std::exchange(afterEmptyRead, nullptr)(fd);
    }
    if (const int error = emptyReadError.load(); n == 0 && error != 0) {
        errno = error;
        return -1;
    }
    return n;
}

extern "C" ssize_t write(int fd, const void* data, size_t length) {
    using Write = ssize_t (*)(int, const void*, size_t);
    static const Write next = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
    const ssize_t n = next(fd, data, length);
    if (n < 0 && errno == EAGAIN && afterFullWrite) {
        std::exchange(afterFullWrite, nullptr)(fd);
        errno = EAGAIN;
    }
    if (const int error = fullWriteError.load(); n < 0 && errno == EAGAIN && error != 0) {
        errno = error;
    }
    return n;
}

// A rate this program's tcsetattr() cannot make, 0 for none: asked for it, the line keeps the rate
// it had and the call succeeds, as a UART's driver answers a rate beyond its clock.
std::atomic<speed_t> unmadeSpeed{0};

extern "C" int tcsetattr(int fd, int action, const termios* asked) {
    using Set = int (*)(int, int, const termios*);
    static const Set next = reinterpret_cast<Set>(dlsym(RTLD_NEXT, "tcsetattr"));
    termios made = *asked;
    termios now{};
    if (const speed_t unmade = unmadeSpeed.load();
        unmade != 0 && cfgetospeed(asked) == unmade && tcgetattr(fd, &now) == 0) {
        cfsetspeed(&made, cfgetospeed(&now));
    }
    return next(fd, action, &made);
}

namespace fwburn::posix::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

class PosixDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        device = OpenSerialPort(pty.slavePath(), &failure);
        ASSERT_TRUE(device) << failure.message;
    }
    // Sends bytes and waits until the device can read them.
    void Preload(const std::string& bytes) {
        pty.Send(bytes);
        ASSERT_TRUE(WaitForInput(device->fd(), static_cast<int>(bytes.size())));
    }
    std::string ReadText(uint32_t length) {
        std::string buffer(length, '\0');
        buffer.resize(device->Read(reinterpret_cast<uint8_t*>(buffer.data()), length));
        return buffer;
    }
    uint32_t WriteText(const std::string& text) {
        return device->Write(reinterpret_cast<const uint8_t*>(text.data()),
                             static_cast<uint32_t>(text.size()));
    }
    speed_t FarEndSpeed() {
        termios t{};
        EXPECT_EQ(tcgetattr(pty.master(), &t), 0);
        return cfgetospeed(&t);
    }

    Pty pty;
    OpenFailure failure;
    std::unique_ptr<PosixDevice> device;
};

TEST_F(PosixDeviceTest, ReadFollowsItsTimeouts) {
    struct Case {
        const char* name;
        Timeouts timeouts;
        std::string before;  // on the line when the read starts
        std::string later;   // sent 30 ms into the read
        uint32_t length;
        std::string expected;
        int64_t minMs, maxMs;
        int error = 0;  // what a read that finds nothing fails with
        bool hungUp = false;
    };
    const Case cases[] = {
        {"all came: returns early", {kMaxDword, 0, 2000, 0, 0}, "", "ABCDE", 5, "ABCDE", 25, 1000},
        {"in pieces", {kMaxDword, 0, 2000, 0, 0}, "AB", "CDE", 5, "ABCDE", 25, 1000},
        {"partial at the total", {kMaxDword, 0, 150, 0, 0}, "abc", "", 10, "abc", 150, 1000},
        {"multiplier per byte", {kMaxDword, 10, 50, 0, 0}, "", "", 10, "", 150, 1000},
        {"at once with what is there", {kMaxDword, 0, 0, 0, 0}, "wxyz", "", 10, "wxyz", 0, 100},
        {"at once with nothing", {kMaxDword, 0, 0, 0, 0}, "", "", 10, "", 0, 100},
        {"gap between bytes", {60, 0, 1000, 0, 0}, "ab", "", 10, "ab", 60, 500},
        {"gap counted from the last byte", {100, 0, 2000, 0, 0}, "", "ab", 10, "ab", 125, 1000},
        {"no gap before the first byte", {60, 0, 300, 0, 0}, "", "", 10, "", 300, 1000},
        {"first chunk", {kMaxDword, kMaxDword, 2000, 0, 0}, "", "xyz", 10, "xyz", 25, 1000},
        {"first chunk never came", {kMaxDword, kMaxDword, 100, 0, 0}, "", "", 10, "", 100, 1000},
        // The first-chunk rule needs a constant: without one the read waits for all it asked.
        {"all asked, no constant", {kMaxDword, kMaxDword, 0, 0, 0}, "", "xyz", 3, "xyz", 25, 1000},
        // An empty read may fail: interrupted, or while a second reader holds the line. Neither
        // ends the read before its time-out; EIO, a port going away, ends it as a hang-up.
        {"interrupted", {kMaxDword, 0, 2000, 0, 0}, "", "late", 4, "late", 25, 1000, EINTR},
        {"held by another reader", {kMaxDword, 0, 100, 0, 0}, "", "", 4, "", 100, 1000, EAGAIN},
        {"the port gone", {kMaxDword, 0, 2000, 0, 0}, "", "", 4, "", 0, 1000, EIO, true},  // last
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(device->SetTimeouts(c.timeouts));
        Preload(c.before);
        emptyReadError = c.error;
        std::promise<void> done;
        // Taken before the far end starts: its 30 ms count from here, however late this thread
        // gets the core back.
        const Clock::time_point start = Clock::now();
        std::thread farEnd([&, finished = done.get_future()] {
            if (!c.later.empty()) {
                std::this_thread::sleep_until(start + milliseconds(30));
                pty.Send(c.later);
            }
            // Frees a read that ignores its time-outs, so that it fails instead of hanging.
            if (finished.wait_for(milliseconds(1500)) == std::future_status::timeout) {
                emptyReadError = 0;
                pty.Send(std::string(c.length, '!'));
            }
        });
        const std::string got = ReadText(c.length);
        const int64_t elapsed = MsSince(start);
        done.set_value();
        farEnd.join();
        emptyReadError = 0;
        EXPECT_EQ(got, c.expected);
        EXPECT_GE(elapsed, c.minMs);
        EXPECT_LE(elapsed, c.maxMs);
        EXPECT_EQ(device->hungUp(), c.hungUp);
        device->DiscardInput();
    }
}

TEST_F(PosixDeviceTest, EveryByteCrossesUnchanged) {
    const std::string control = "\r\n\x03\x04\x11\x13\x1a\x7f\xff";
    Preload(control);
    device->SetTimeouts({kMaxDword, 0, 500, 0, 500});
    EXPECT_EQ(ReadText(static_cast<uint32_t>(control.size())), control);
    EXPECT_EQ(WriteText(control + ":007F81\r\n"), control.size() + 9);
    EXPECT_EQ(pty.Receive(64, 500), control + ":007F81\r\n");
}

TEST_F(PosixDeviceTest, WriteStopsAtItsTimeoutWithTheCountWritten) {
    struct Case {
        const char* name;
        Timeouts timeouts;
        size_t length;
        int error;  // what a write that finds the line full fails with
        int64_t minMs;
        bool anyWritten;
    };
    // The first writes far more than the far end buffers unread; each after it finds the line as
    // full as the one before left it.
    const Case cases[] = {
        {"a constant", {kMaxDword, 0, 0, 0, 100}, 1 << 20, EAGAIN, 100, true},
        {"a multiplier alone", {kMaxDword, 0, 0, 2, 0}, 100, EAGAIN, 200, false},
        {"interrupted", {kMaxDword, 0, 0, 0, 100}, 100, EINTR, 100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device->SetTimeouts(c.timeouts);
        fullWriteError = c.error;
        std::promise<void> done;
        std::thread farEnd([&, finished = done.get_future()] {
            // Drains a write that ignores its time-out, so that it fails instead of hanging.
            if (finished.wait_for(milliseconds(1500)) == std::future_status::timeout) {
                while (finished.wait_for(milliseconds(0)) == std::future_status::timeout) {
                    pty.Receive(1 << 16, 10);
                }
            }
        });
        const Clock::time_point start = Clock::now();
        const uint32_t written = WriteText(std::string(c.length, 'x'));
        const int64_t elapsed = MsSince(start);
        done.set_value();
        farEnd.join();
        fullWriteError = 0;
        EXPECT_EQ(written > 0, c.anyWritten);
        EXPECT_LT(written, c.length);
        EXPECT_GE(elapsed, c.minMs);
        EXPECT_LE(elapsed, 1000);
    }
}

TEST_F(PosixDeviceTest, DiscardInputDropsWhatCameBeforeAndCountsIt) {
    Preload("stale");
    EXPECT_EQ(device->DiscardInput(), 5u);
    EXPECT_EQ(device->DiscardInput(), 0u);
    // A flood is dropped at once, however much the kernel holds.
    Preload(std::string(3000, 'x'));
    EXPECT_EQ(device->DiscardInput(), 3000u);
    pty.Send("fresh");
    device->SetTimeouts({kMaxDword, 0, 200, 0, 200});
    EXPECT_EQ(ReadText(10), "fresh");
}

TEST_F(PosixDeviceTest, HangUpEndsAReadAtOnceAndIsKept) {
    device->SetTimeouts({kMaxDword, 0, 100, 0, 100});
    EXPECT_EQ(ReadText(10), "");  // a silent line is no hang-up
    EXPECT_FALSE(device->hungUp());
    device->SetTimeouts({kMaxDword, 0, 2000, 0, 2000});
    // Bytes read before the hang-up are the read's.
    Preload("ab");
    std::thread farEnd([&] {
        std::this_thread::sleep_for(milliseconds(200));
        pty.CloseMaster();
    });
    Clock::time_point start = Clock::now();
    EXPECT_EQ(ReadText(10), "ab");
    EXPECT_LT(MsSince(start), 1000);
    farEnd.join();
    EXPECT_TRUE(device->hungUp());
    start = Clock::now();
    EXPECT_EQ(ReadText(10), "");
    EXPECT_LT(MsSince(start), 1000);
}

void IgnoreSignal(int) {}

TEST_F(PosixDeviceTest, SignalsDoNotCutAReadShort) {
    struct sigaction action {};
    action.sa_handler = IgnoreSignal;  // no SA_RESTART: poll() and read() fail with EINTR
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    device->SetTimeouts({kMaxDword, 0, 2000, 0, 0});
    const pthread_t reader = pthread_self();
    std::thread interrupter([&] {
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(milliseconds(10));
            pthread_kill(reader, SIGUSR1);
        }
        pty.Send("12345678");
    });
    EXPECT_EQ(ReadText(8), "12345678");
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);
}

// A thread stopped between an attempt that found nothing to do and its deadline check wakes past
// the deadline; what the line allowed before the deadline still goes through.
TEST_F(PosixDeviceTest, ThreadStoppedPastTheDeadlineStillMovesWhatTheLineAllowedInTime) {
    device->SetTimeouts({kMaxDword, 0, 100, 0, 100});
    Clock::time_point start = Clock::now();
    afterEmptyRead = [&](int fd) {
        pty.Send("late");
        ASSERT_TRUE(WaitForInput(fd, 4));
        std::this_thread::sleep_until(start + milliseconds(150));
    };
    EXPECT_EQ(ReadText(10), "late");

    const std::string big(1 << 20, 'x');
    size_t drained = 0;
    start = Clock::now();
    afterFullWrite = [&](int) {
        for (std::string got; !(got = pty.Receive(1 << 16, 10)).empty();) {
            drained += got.size();
        }
        std::this_thread::sleep_until(start + milliseconds(150));
    };
    EXPECT_GT(WriteText(big), drained);
    afterEmptyRead = afterFullWrite = nullptr;
}

TEST_F(PosixDeviceTest, PortIsHeldExclusively) {
    int exclusive = 0;
    ASSERT_EQ(ioctl(device->fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_NE(exclusive, 0);

    OpenFailure second;
    EXPECT_FALSE(OpenSerialPort(pty.slavePath(), &second));
    EXPECT_EQ(second.reason, OpenError::kBusy);
    EXPECT_EQ(second.message, pty.slavePath() + ": in use by another program");

    device.reset();
    EXPECT_TRUE(OpenSerialPort(pty.slavePath()));
}

// Another process that took the port's lock or flag is refused, named. One that only has a
// pseudo-terminal open is its bridge's far end, kept open so the master reads no hang-up: not
// refused (a prober on a device is; the VM tier's scenario 3 shows it).
TEST_F(PosixDeviceTest, PortHeldByAnotherProcessIsRefusedUnlessAPtyBridge) {
    device.reset();
    enum class Hold { kFlock, kFlag, kOpen };
    for (const Hold hold : {Hold::kFlock, Hold::kFlag, Hold::kOpen}) {
        SCOPED_TRACE(static_cast<int>(hold));
        int ready[2];
        int release[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(release), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Holds the port until the parent closes its end of `release`, five seconds at most.
            close(ready[0]);
            close(release[1]);
            const int fd = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
            const bool held = fd >= 0 &&
                              (hold != Hold::kFlock || flock(fd, LOCK_EX | LOCK_NB) == 0) &&
                              (hold != Hold::kFlag || ioctl(fd, TIOCEXCL) == 0);
            const char ok = held ? '1' : '0';
            pollfd p{release[0], POLLIN, 0};
            const bool released = write(ready[1], &ok, 1) == 1 && poll(&p, 1, 5000) == 1;
            ioctl(fd, TIOCNXCL);  // the flag outlives a pty slave's close
            _exit(released ? 0 : 1);
        }
        close(ready[1]);
        close(release[0]);
        char held = 0;
        const bool childHeld = read(ready[0], &held, 1) == 1 && held == '1';
        OpenFailure refused;
        const bool opened = static_cast<bool>(OpenSerialPort(pty.slavePath(), &refused));
        close(release[1]);
        close(ready[0]);
        int status = 0;
        waitpid(child, &status, 0);

        ASSERT_TRUE(childHeld);
        EXPECT_EQ(opened, hold == Hold::kOpen) << refused.message;
        if (hold != Hold::kOpen) {
            EXPECT_EQ(refused.reason, OpenError::kBusy);
            EXPECT_NE(refused.message.find("process " + std::to_string(child) + ")"),
                      std::string::npos)
                << refused.message;
        }
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(OpenSerialPort(pty.slavePath()));  // the port went with the other process
    }
}

TEST(PosixDeviceOpen, FailuresSayWhy) {
    char file[] = "/tmp/fwburn-not-a-port-XXXXXX";
    const int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::pair<std::string, OpenError> cases[] = {
        {"/dev/fwburn-no-such-port", OpenError::kMissing},
        {"/dev/null", OpenError::kNotSerial},
        {file, OpenError::kNotSerial},
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path);
        OpenFailure failure;
        EXPECT_FALSE(OpenSerialPort(path, &failure));
        EXPECT_EQ(failure.reason, reason);
        EXPECT_EQ(failure.message.rfind(path + ": ", 0), 0u);
    }
    unlink(file);
}

// Started with a standard stream closed, a program is given the port under its number: that is
// no terminal of the program's.
TEST(PosixDeviceOpen, APortUnderAClosedStandardStreamsNumberIsTaken) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    for (int standard = STDIN_FILENO; standard <= STDERR_FILENO; ++standard) {
        SCOPED_TRACE(standard);
        const int saved = dup(standard);
        close(standard);
        OpenFailure failure;
        const int got = [&] {
            const std::unique_ptr<PosixDevice> device = OpenSerialPort(pty.slavePath(), &failure);
            return device ? device->fd() : -1;
        }();
        if (saved >= 0) {
            dup2(saved, standard);
            close(saved);
        }
        EXPECT_EQ(got, standard) << failure.message;
    }
}

TEST(PosixDeviceOpen, KeepsTheBaudRateAndDropsWhatCameBefore) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    termios t{};
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    cfsetspeed(&t, B19200);
    ASSERT_EQ(tcsetattr(pty.master(), TCSANOW, &t), 0);
    // Another program's descriptor, without lock, to see the stale bytes arrive.
    const int other = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    pty.Send("stale\n");  // a whole line: that line is still canonical
    ASSERT_TRUE(WaitForInput(other, 6));

    std::unique_ptr<PosixDevice> device = OpenSerialPort(pty.slavePath());
    ASSERT_TRUE(device);
    LineSettings line;
    ASSERT_TRUE(device->GetLineSettings(line));
    EXPECT_EQ(line.baudRate, 19200u);
    device->SetTimeouts({kMaxDword, 0, 50, 0, 0});
    uint8_t buffer[8];
    EXPECT_EQ(device->Read(buffer, sizeof buffer), 0u);

    // Closing gives the port back to everyone: the exclusive flag outlives a pty slave's close.
    device.reset();
    int exclusive = 1;
    ASSERT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(other);
}

TEST_F(PosixDeviceTest, LineSwitchesBetweenApplicationAndTransferSettings) {
    const LineSettings transfer{115200, 8, kNoParity, kOneStopBit, 0, 0};
    ASSERT_TRUE(device->SetLineSettings(transfer));
    EXPECT_EQ(FarEndSpeed(), B115200);
    LineSettings line;
    ASSERT_TRUE(device->GetLineSettings(line));
    EXPECT_EQ(line, transfer);

    ASSERT_TRUE(device->SetLineSettings({9600, 7, kEvenParity, kOneStopBit, 0, 0}));
    EXPECT_EQ(FarEndSpeed(), B9600);
    // A pseudo-terminal reports 8 bits without parity whatever it was asked; check the request.
    const termios& asked = device->requestedTermios();
    EXPECT_EQ(asked.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_EQ(asked.c_cflag & (PARENB | PARODD | CSTOPB), static_cast<tcflag_t>(PARENB));
    EXPECT_EQ(cfgetispeed(&asked), B9600);

    // Refused too: a rate the driver did not make, though it reported success.
    for (const uint32_t baud : {12345u, 921600u}) {
        SCOPED_TRACE(baud);
        unmadeSpeed = B921600;
        EXPECT_FALSE(device->SetLineSettings({baud, 8, kNoParity, kOneStopBit, 0, 0}));
        unmadeSpeed = 0;
        EXPECT_EQ(FarEndSpeed(), B9600);
        EXPECT_EQ(cfgetospeed(&device->requestedTermios()), B9600);
    }
}

// Another process (root passes TIOCEXCL) changes the line under a transfer: the next write sets
// back rate and raw mode first, and counts it once.
TEST_F(PosixDeviceTest, LineChangedByAnotherProcessIsSetBackBeforeTheNextWrite) {
    ASSERT_TRUE(device->SetLineSettings({115200, 8, kNoParity, kOneStopBit, 0, 0}));
    termios other{};
    ASSERT_EQ(tcgetattr(pty.master(), &other), 0);
    cfsetispeed(&other, B9600);
    cfsetospeed(&other, B9600);
    other.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(tcsetattr(pty.master(), TCSANOW, &other), 0);  // the slave's, as `stty -F` does

    EXPECT_EQ(WriteText("a"), 1u);
    termios now{};
    ASSERT_EQ(tcgetattr(device->fd(), &now), 0);
    EXPECT_EQ(cfgetospeed(&now), B115200);
    EXPECT_EQ(now.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(WriteText("b"), 1u);
    EXPECT_EQ(device->lineRestored(), 1u);
}

}  // namespace
}  // namespace fwburn::posix::test

#include "ui/console/posix/sleep_inhibitor.hpp"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

namespace fwburn::console {

namespace {

// A bus that accepts and never answers must not hold up the update: sd_bus_call()'s time-out
// leaves out the handshake, for which it waits 90 s, so the call is asynchronous and the wait ours.
constexpr std::chrono::milliseconds kBusWait(1500);

class SleepLock final : public HeldLock {
  public:
    explicit SleepLock(int fd) : fd_(fd) {}
    ~SleepLock() override { Release(); }
    void Release() override {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }

  private:
    int fd_;
};

struct Reply {
    bool came = false;
    int fd = -1;
};

// The lock lasts while logind's descriptor is open: ours is a copy, the message's goes with it.
int Replied(sd_bus_message* message, void* data, sd_bus_error* /*error*/) {
    auto* reply = static_cast<Reply*>(data);
    reply->came = true;
    int fd = -1;
    if (sd_bus_message_read(message, "h", &fd) > 0) {
        reply->fd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    }
    return 0;
}

}  // namespace

std::unique_ptr<HeldLock> InhibitSleep(const std::string& who) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) {
        return nullptr;
    }
    Reply reply;
    const auto deadline = std::chrono::steady_clock::now() + kBusWait;
    int r = sd_bus_call_method_async(
        bus, nullptr, "org.freedesktop.login1", "/org/freedesktop/login1",
        "org.freedesktop.login1.Manager", "Inhibit", Replied, &reply, "ssss", "sleep", who.c_str(),
        "A firmware update is running: sleeping now would leave the PLC in its bootloader.",
        "block");
    while (r >= 0 && !reply.came) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        r = sd_bus_process(bus, nullptr);
        if (r == 0) {
            r = sd_bus_wait(bus, static_cast<uint64_t>(left.count()));
        }
    }
    sd_bus_close_unref(bus);  // not thread-safe, and not needed again: only the descriptor stays
    return reply.fd >= 0 ? std::make_unique<SleepLock>(reply.fd) : nullptr;
}

}  // namespace fwburn::console

#include "tests/posix/pty.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace fwburn::posix::test {

Pty::Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        CloseMaster();
        return;
    }
    const char* name = ptsname(master_);
    slavePath_ = name != nullptr ? name : "";
}

Pty::~Pty() {
    CloseMaster();
}

void Pty::CloseMaster() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

void Pty::Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

std::string Pty::Receive(size_t max, int timeoutMs) {
    std::string out;
    pollfd p{master_, POLLIN, 0};
    while (out.size() < max && poll(&p, 1, out.empty() ? timeoutMs : 50) > 0) {
        char buffer[256];
        const ssize_t n = read(master_, buffer, std::min(sizeof buffer, max - out.size()));
        if (n <= 0) {
            break;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

bool WaitForInput(int fd, int count) {
    for (int i = 0; i < 1000; ++i) {
        int available = 0;
        if (ioctl(fd, FIONREAD, &available) == 0 && available >= count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

}  // namespace fwburn::posix::test

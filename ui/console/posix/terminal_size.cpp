#include "ui/console/posix/terminal_size.hpp"

#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace fwburn::console {

int ReadColumns(int fd) {
    winsize size{};
    return ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

TerminalWidth::TerminalWidth(int fd, int fallback) : fd_(fd), columns_(fallback) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGWINCH);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &set, &before);
    signalFd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd_ < 0) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }
    if (const int now = ReadColumns(fd_); now > 0) {
        columns_ = now;
    }
}

TerminalWidth::~TerminalWidth() {
    if (signalFd_ >= 0) {
        close(signalFd_);
    }
}

int TerminalWidth::Columns() {
    // Without a signalfd nothing tells of a resize: ask each time, one system call per redraw.
    bool resized = signalFd_ < 0;
    signalfd_siginfo info{};
    while (signalFd_ >= 0 &&
           read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        resized = true;
    }
    if (const int now = resized ? ReadColumns(fd_) : 0; now > 0) {
        columns_ = now;
    }
    return columns_;
}

}  // namespace fwburn::console

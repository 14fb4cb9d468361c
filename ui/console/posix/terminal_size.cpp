#include "ui/console/posix/terminal_size.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include "ui/console/posix/signals.hpp"

namespace fwburn::console {

int ReadColumns(int fd) {
    winsize size{};
    return ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

TerminalWidth::TerminalWidth(int fd, int fallback) : fd_(fd), columns_(fallback) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGWINCH);
    signalFd_ = BlockIntoSignalFd(set);
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
    while (signalFd_ >= 0 && TakeSignal(signalFd_) != 0) {
        resized = true;
    }
    if (const int now = resized ? ReadColumns(fd_) : 0; now > 0) {
        columns_ = now;
    }
    return columns_;
}

}  // namespace fwburn::console

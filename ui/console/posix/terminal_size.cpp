#include "ui/console/posix/terminal_size.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include "ui/console/posix/signals.hpp"

namespace fwburn::console {

TerminalWidth::TerminalWidth(int fd, int fallback) : fd_(fd), columns_(fallback) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGWINCH);
    signalFd_ = BlockIntoSignalFd(set);
    winsize size{};
    if (ioctl(fd_, TIOCGWINSZ, &size) == 0) {
        columns_ = size.ws_col > 0 ? size.ws_col : columns_;
        rows_ = size.ws_row;
    }
}

TerminalWidth::~TerminalWidth() {
    if (signalFd_ >= 0) {
        close(signalFd_);
    }
}

void TerminalWidth::Follow() {
    // Without a signalfd nothing tells of a resize: ask each time, one system call per redraw.
    bool resized = signalFd_ < 0;
    while (signalFd_ >= 0 && TakeSignal(signalFd_) != 0) {
        resized = true;
    }
    winsize size{};
    if (resized && ioctl(fd_, TIOCGWINSZ, &size) == 0) {
        columns_ = size.ws_col > 0 ? size.ws_col : columns_;
        rows_ = size.ws_row > 0 ? size.ws_row : rows_;
    }
}

int TerminalWidth::Columns() {
    Follow();
    return columns_;
}

int TerminalWidth::Rows() {
    Follow();
    return rows_;
}

}  // namespace fwburn::console

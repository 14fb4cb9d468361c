// The terminal's width and height. Both are followed while an update runs: a window or a pane
// resized mid-transfer must not leave the status line longer than the screen, where every redraw
// would wrap, nor the board of several controllers taller than it, whose redraw would climb past
// its top.
#pragma once

namespace fwburn::console {

// Follows the width of the terminal on `fd`: read once here, and again after each SIGWINCH.
// SIGWINCH is blocked in the calling thread and read from a signalfd; make one per process,
// before any other thread starts, so that every thread inherits the block and none takes the
// signal away from the descriptor (or sees its calls interrupted by it).
class TerminalWidth {
  public:
    explicit TerminalWidth(int fd, int fallback = 80);
    ~TerminalWidth();
    TerminalWidth(const TerminalWidth&) = delete;
    TerminalWidth& operator=(const TerminalWidth&) = delete;

    // The width now: re-read when the terminal was resized since the last call. A terminal that
    // tells no width keeps the last one known.
    int Columns();
    // The height now, as the width; 0 while the terminal has told none.
    int Rows();

  private:
    void Follow();

    int fd_;
    int columns_;
    int rows_ = 0;
    int signalFd_ = -1;
};

}  // namespace fwburn::console

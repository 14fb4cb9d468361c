// A prompt's answer typed on Windows. Standard input is a console, a pipe or a file, and only a
// console can be waited on, and then for any key or mouse event: a thread of its own reads it one
// byte at a time and hands each byte over, so that the main thread waits on an event instead. It
// starts at the first question: a run that asks nothing leaves typed-ahead input to the shell.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>

namespace fwburn::console {

class Keyboard {
  public:
    Keyboard();
    ~Keyboard();
    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;

    // Starts the reader, once.
    void Start();
    // Set while a byte (or the end of input) waits.
    HANDLE ready() const;
    // The next byte as read() would give it: `n` 1 with `c`, 0 at the end of input, -1 with the
    // errno in `error`. False when nothing waits.
    bool Take(long& n, char& c, int& error);

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    bool started_ = false;
};

}  // namespace fwburn::console

// A pseudo-terminal for the device tests: the test keeps the master, the device under test opens
// the slave by its path like any port.
#pragma once

#include <string>

namespace fwburn::posix::test {

class Pty {
  public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0; }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    // Puts bytes on the line towards the device.
    void Send(const std::string& bytes);
    // What the device sent, up to `max` bytes, waiting at most `timeoutMs` for the first one.
    std::string Receive(size_t max, int timeoutMs);
    void CloseMaster();

  private:
    int master_ = -1;
    std::string slavePath_;
};

// Waits up to a second until `fd` has at least `count` bytes to read: the line discipline takes
// bytes from the master asynchronously.
bool WaitForInput(int fd, int count);

}  // namespace fwburn::posix::test

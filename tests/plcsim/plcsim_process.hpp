// The plcsim program under test, and a tiny serial host that talks to its pseudo-terminal with
// raw bytes and termios. Every wait is bounded, so a broken plcsim fails a test instead of
// hanging it.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <string>
#include <string_view>
#include <vector>

namespace fwburn::sim::plcsim::test {

// A running plcsim. The constructor waits (at most 5 s) for the line that names the port.
class PlcsimProcess {
  public:
    explicit PlcsimProcess(const std::vector<std::string>& args);
    ~PlcsimProcess();
    PlcsimProcess(const PlcsimProcess&) = delete;
    PlcsimProcess& operator=(const PlcsimProcess&) = delete;

    const std::string& firstLine() const { return firstLine_; }
    // The port path from the first line; empty when plcsim did not start.
    const std::string& port() const { return port_; }

    void Signal(int signal) const;
    // The exit status once plcsim has ended by itself within `timeoutMs`; -1 when it is still
    // running (it is then killed).
    int Wait(int timeoutMs);
    // SIGTERM, then Wait.
    int Stop() {
        Signal(15);
        return Wait(5000);
    }
    bool Running();
    // What plcsim has written to stderr so far.
    std::string Stderr() const;
    // Whether `text` came on stderr (a --verbose log line) within `timeoutMs`.
    bool Logged(const std::string& text, int timeoutMs = 5000) const;

  private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    int status_ = -1;
    std::string stderrPath_;
    std::string firstLine_;
    std::string port_;
};

// Runs plcsim to its end (at most 5 s) and returns its exit status with all it printed.
struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};
Finished RunPlcsim(const std::vector<std::string>& args);

// A host on the slave side: raw, 8N1, opened at 9600 baud.
class Host {
  public:
    explicit Host(const std::string& port);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    bool ok() const { return fd_ >= 0; }
    bool SetBaud(speed_t speed);
    bool Send(std::string_view bytes);
    // Up to `count` bytes: returns when they came or after `timeoutMs` with what did.
    std::string Read(size_t count, int timeoutMs);
    // Send, then read a reply of `count` bytes within 2 s.
    std::string Ask(std::string_view request, size_t count);
    void Close();

  private:
    int fd_ = -1;
};

std::string TempPath(const std::string& name);
std::string ReadText(const std::string& path);
// The raw value text of `"key": value` in plcsim's summary JSON; "" when absent.
std::string JsonField(const std::string& json, const std::string& key);
// Byte n of an ASCII reply (":" is character 0), or -1 when the reply has no such byte.
int ReplyByte(const std::string& reply, size_t n);

}  // namespace fwburn::sim::plcsim::test

// The session's host on Linux: writer threads for stdout and stderr, the terminal's width, the
// ending signals from a signalfd, the keyboard, flock()ed lock files, logind's sleep lock, the
// termios ports and the sysfs discovery (in the trees that FWBURN_SYSFS_ROOT and FWBURN_DEV_ROOT
// name, for tests).
#pragma once

#include <unistd.h>

#include "link/posix/discovery.hpp"
#include "ui/console/posix/output_queue.hpp"
#include "ui/console/posix/terminal_size.hpp"
#include "ui/console/session/host.hpp"

namespace fwburn::console {

class PosixHost final : public Host {
  public:
    // Takes the ending signals from here on, in this thread and every thread started later:
    // make it before any other thread starts.
    PosixHost();
    ~PosixHost() override;
    PosixHost(const PosixHost&) = delete;
    PosixHost& operator=(const PosixHost&) = delete;

    // The signals could not be taken: say so and give up.
    bool Failed() const { return signalFd_ < 0 || wakeFd_ < 0; }

    std::FILE* out() override { return output_.out(); }
    std::FILE* err() override { return output_.err(); }
    int Columns() override { return width_.Columns(); }
    int Rows() override { return width_.Rows(); }
    void Wake() override;
    Event Wait(Clock::time_point deadline, bool answering) override;
    std::unique_ptr<HeldLock> Lock(const std::vector<std::string>& identities, bool shared,
                                   const std::string& what, std::string& refusal) override;
    std::string UsbLinkIdentity() override;
    std::unique_ptr<HeldLock> StayAwake(const std::string& program) override;
    std::unique_ptr<SessionLink> MakeLink(const Target& target) override;
    std::unique_ptr<QueuedTrace> OpenTrace(const std::string& path, int& error) override;
    void Suspend() override;
    bool Drain() override;
    std::string LostOutput() override;
    void LastWords() override;
    [[noreturn]] void Exit(int status) override;

    std::vector<posix::UsbPort> Controllers() override;
    std::vector<std::string> SerialPorts() override;
    std::optional<posix::UsbPort> Describe(const std::string& port) override;
    std::string DeviceKey(const std::string& port) override;
    std::string LockIdentity(const std::string& port) override;

  private:
    Event Signal(int signo);

    const std::string sysRoot_;
    const std::string devRoot_;
    OutputQueue output_;                  // its writers block every signal themselves
    TerminalWidth width_{STDOUT_FILENO};  // before any worker starts: it blocks SIGWINCH
    int signalFd_ = -1;
    int wakeFd_ = -1;
    int stopFd_ = -1;          // SIGTSTP; -1: the key stops the process at once
    bool background_ = false;  // at the last wait, asked in the background of its terminal
    AnswerInput answerInput_;  // "n", "no" or "q" and Enter cancel
};

}  // namespace fwburn::console

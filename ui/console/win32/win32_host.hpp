// The session's host on Windows: writer threads for stdout and stderr, the console's width, the
// console's control events (Ctrl+C, Ctrl+Break, its close, logoff and shutdown) where Linux has
// signals, the keyboard, named mutexes for the locks, the COM ports and the controller's USB
// device as the window opens them, and the devices Windows lists.
#pragma once

#include <windows.h>

#include "ui/console/session/console_operator.hpp"
#include "ui/console/session/host.hpp"
#include "ui/console/win32/keyboard.hpp"
#include "ui/console/win32/output.hpp"

namespace fwburn::console {

class Win32Host final : public Host {
  public:
    // Takes the console's control events from here on; one per process.
    Win32Host();
    ~Win32Host() override;
    Win32Host(const Win32Host&) = delete;
    Win32Host& operator=(const Win32Host&) = delete;

    // The events or the output could not be taken: say so and give up.
    bool Failed() const;

    std::FILE* out() override { return output_.out(); }
    std::FILE* err() override { return output_.err(); }
    int Columns() override;
    int Rows() override;
    void Wake() override;
    Event Wait(Clock::time_point deadline, bool answering) override;
    std::unique_ptr<HeldLock> Lock(const std::vector<std::string>& identities, bool shared,
                                   const std::string& what, std::string& refusal) override;
    std::string UsbLinkIdentity() override;
    std::unique_ptr<SessionLink> MakeLink(const Target& target) override;
    std::unique_ptr<QueuedTrace> OpenTrace(const std::string& path, int& error) override;
    bool Drain() override;
    std::string LostOutput() override;
    void LastWords() override;
    [[noreturn]] void Exit(int status) override;

    std::vector<UsbPort> Controllers() override;
    std::vector<std::string> SerialPorts() override;
    std::optional<UsbPort> Describe(const std::string& port) override;
    std::string DeviceKey(const std::string& port) override;
    std::string LockIdentity(const std::string& port) override;
    std::string FriendlyName(const std::string& port) override;

  private:
    ConsoleOutput output_;
    HANDLE wake_;
    Keyboard keyboard_;
    AnswerInput answerInput_;  // "n", "no" or "q" and Enter cancel
};

}  // namespace fwburn::console

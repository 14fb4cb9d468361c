// The session's operating system, behind one seam: its output streams and terminal, its signals
// and keyboard, its ports, their links and locks. The session itself is the same everywhere;
// each system has a host (posix/ for Linux).
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "burn/operator.hpp"
#include "ui/console/session/console_operator.hpp"
#include "ui/console/session/targets.hpp"

namespace fwburn {
class TraceWriter;
}

namespace fwburn::console {

class QueuedTrace;

// A lock held from before a run's first open to after its last close.
class HeldLock {
  public:
    virtual ~HeldLock() = default;
    virtual void Release() = 0;
};

// A link that the host can let go of for good when a signal ends the process.
class SessionLink : public Link {
  public:
    // Clears the port's exclusive flag and drops its queued bytes, whatever the worker is doing.
    // A worker that holds the port past `giveUpAt` (in an open, or a close that waits for its
    // output) is not waited for: the ports of a session share that one moment.
    virtual void ReleaseForExit(std::chrono::steady_clock::time_point giveUpAt) = 0;
    // Records every open device to `trace` from now on.
    virtual void TraceTo(TraceWriter* trace) = 0;
};

class Host : public PortFinder {
  public:
    using Clock = std::chrono::steady_clock;

    // Streams whose writes never hold up the caller.
    virtual std::FILE* out() = 0;
    virtual std::FILE* err() = 0;
    // The terminal's width now, resizes followed; 0 when stdout is no terminal.
    virtual int Columns() = 0;
    // Its height in lines now; 0 when unknown.
    virtual int Rows() { return 0; }

    // From any thread: a request waits for the session.
    virtual void Wake() = 0;

    struct Event {
        int signal = 0;                    // a signal that ends the run: its number,
        const char* signalName = nullptr;  // its name ("SIGTERM"),
        int signalStatus = 0;              // and the status a shell shows for it
        std::optional<Answer> answer;      // a line typed at a question,
        bool echoed = false;               // its Enter echoed: the terminal is on a new line
        bool suspend = false;              // the terminal's stop key (Ctrl-Z): Suspend()
        bool resumed = false;              // SIGCONT: continued, after a stop or not
        bool foreground = false;           // brought to the foreground while it asks
    };
    // Until `deadline`, a Wake(), a signal, or with `answering` a line typed (or end of input).
    virtual Event Wait(Clock::time_point deadline, bool answering) = 0;

    // Every identity locked, `shared` where several runs may hold it, or nullptr with the line
    // that says who holds it or why it could not be had, `what` naming the port in it.
    virtual std::unique_ptr<HeldLock> Lock(const std::vector<std::string>& identities, bool shared,
                                           const std::string& what, std::string& refusal) = 0;
    // The USB link's own identity, held shared by every run of a pinned controller and alone by
    // a run that takes whichever controller it finds.
    virtual std::string UsbLinkIdentity() = 0;

    // The system kept from sleeping for an update run, until Release() or the end of the process;
    // nullptr where it cannot be (Windows keeps the console program awake for its whole run).
    virtual std::unique_ptr<HeldLock> StayAwake(const std::string& /*program*/) { return nullptr; }

    // The link to a target: its port, or a pinned controller's tty found again at each open.
    virtual std::unique_ptr<SessionLink> MakeLink(const Target& target) = 0;

    // The --trace file at `path` (queued_trace.hpp), or nullptr with the errno of its open in
    // `error`.
    virtual std::unique_ptr<QueuedTrace> OpenTrace(const std::string& path, int& error) = 0;

    // Stops the process as the stop key would have, once the terminal has had its last lines;
    // returns when it is continued. Where there is no such key, nothing.
    virtual void Suspend() {}
    // Waits for the last lines to go out; false when a signal cut the wait short.
    virtual bool Drain() = 0;
    // Empty, or what made lines of stdout or stderr fail ("stdout: No space left on device").
    virtual std::string LostOutput() { return {}; }
    // Gives the last lines a moment, and no more: the terminal may not be taking them.
    virtual void LastWords() = 0;
    // Ends the process with `status` at once: its ports and locks go with it.
    [[noreturn]] virtual void Exit(int status) = 0;
};

}  // namespace fwburn::console

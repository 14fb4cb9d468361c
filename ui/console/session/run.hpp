// One target of a session: an update of one controller, or a look at one with --info. Its worker
// thread talks to the session through its mailbox; everything else here is the session's, on
// the main thread.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "burn/burn.hpp"
#include "ui/console/session/console_operator.hpp"
#include "ui/console/session/host.hpp"
#include "ui/console/session/mailbox.hpp"
#include "ui/console/session/targets.hpp"
#include "ui/console/show/info_table.hpp"
#include "ui/console/show/progress.hpp"
#include "ui/console/show/screen.hpp"

namespace fwburn::console {

class Run {
  public:
    enum class Kind { kUpdate, kLook };

    Run(Kind kind, const Target& target, Host& host, bool yes, uint32_t blockSize);
    ~Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // An update's screen (tagged with the target where it is one of several) and its job; the
    // screen says the start line.
    void PrepareUpdate(Host& host, const RunInfo& info, ScreenMode mode, bool several, bool usb,
                       bool allowStandIn);
    // Starts the worker: StartBurn for an update, the probe for a look (`programRow` is the
    // program's model). Empty, or why the system could not start it.
    std::string Start(int programRow);
    // The worker is done with the port for good.
    bool ended() const { return returned.has_value(); }
    void Join();
    // Why the worker stopped without an outcome (out of memory, say), once it has; else null.
    const char* WorkerFailure() const {
        return failed_.load(std::memory_order_acquire) ? failure_ : nullptr;
    }

    const Kind kind;
    const Target target;
    std::unique_ptr<SessionLink> link;
    Mailbox mailbox;
    ConsoleOperator op;
    Update update;
    ProgressTracker tracker;
    std::unique_ptr<Screen> screen;  // an update's
    std::unique_ptr<HeldLock> lock;
    InfoRow look;  // a look's findings, once it has ended

    bool timerRunning = true;
    bool finalShown = false;
    int gaveUp = 0;        // --yes gave up after this many accepted update requests
    bool waiting = false;  // at a reconnect prompt, for Enter
    std::string caption;   // of that prompt
    std::string text;
    std::optional<UpdateOutcome> returned;
    // Where it stopped, taken with the final message: the worker clears its figures after it.
    std::optional<ProgressView> last;
    int code = 1;
    double elapsed = 0;
    std::string message;  // the final message, for a summary

  private:
    void Probe(int programRow);
    void Failed(const char* what) noexcept;

    std::thread worker_;
    std::atomic<bool> failed_{false};
    char failure_[160] = {};
};

}  // namespace fwburn::console

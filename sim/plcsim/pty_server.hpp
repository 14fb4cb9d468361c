// Serves a simulated controller on a Linux pseudo-terminal, in real time.
//
// A host opens the slave side like any serial port, as often as it likes. The master's hang-up
// tells when the last host descriptor of the slave has closed (the kernel counts them, dups and
// forks included); an inotify watch on the slave node tells when a host opens it again. What a
// host writes reaches Controller::Receive stamped with a monotonic millisecond clock and the line
// settings the pty reports; what the controller emits is written to the master when its time
// comes, and dropped while no host has the port open.
#pragma once

#include <signal.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "sim/controller.hpp"
#include "sim/plcsim/summary.hpp"
#include "sim/plcsim/udc.hpp"

namespace fwburn::sim::plcsim {

struct ServeOptions {
    // Every byte takes its line time at the pty's baud rate, both ways.
    bool wire = false;
    // A host closing the port while the controller waits for a replug or a power cycle (or while
    // its link is lost) stands for the operator's action.
    bool autoReconnect = true;
    // Stop when one update is over: see Run().
    bool exitAfterUpdate = false;
    bool verbose = false;
    // Serve this existing tty (a USB gadget's ttyGS0) instead of a new pseudo-terminal. A tty
    // shows no host's open or close: the line is there while it is not hung up.
    std::string ttyPath;
    // The gadget's UDC file: a replug, a power cycle, a restart of a USB model and a lost link
    // unbind the gadget (the host sees the cable pulled) and, but for the lost link, bind it again.
    std::string udcFile;
    // The operator's replug or power cycle comes this long after the controller began to wait for
    // it; -1: at a host's close of the pseudo-terminal. Without autoReconnect a gadget's cable is
    // pulled then and stays out until SIGUSR1.
    int64_t reconnectAfterMs = -1;
};

class PtyServer {
  public:
    PtyServer(Controller& controller, ServeOptions options);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Creates the pseudo-terminal and takes over SIGINT, SIGTERM, SIGHUP, SIGUSR1 and SIGUSR2.
    // Returns "" or what failed. The controller's clock starts here.
    std::string Open();
    const std::string& slavePath() const { return facts_.slavePath; }

    // Serves until SIGINT, SIGTERM or SIGHUP, or with exitAfterUpdate until a host closes the
    // port after an update (not for a reconnect), or shortly after a complete transfer's last
    // reply went out while the host keeps the port open. SIGUSR1 replugs, SIGUSR2 power-cycles.
    // Returns "" or what failed.
    std::string Run();

    const ServedFacts& facts() const { return facts_; }

  private:
    struct LineNow {
        LineSettings settings;
        uint32_t bitsPerByte = 10;
    };
    // Host bytes on their way to the controller, or the mark of a host's close.
    struct Incoming {
        int64_t dueUs = 0;
        std::vector<uint8_t> bytes;
        LineSettings line;
        bool hostClosed = false;
        bool hostTalked = false;  // with hostClosed: the host wrote something before it closed
    };
    // Controller bytes on their way to the host.
    struct Outgoing {
        int64_t atUs = 0;
        std::vector<uint8_t> bytes;
    };

    std::string Serve();
    int64_t NowUs() const;
    static int64_t Ms(int64_t us) { return us / 1000; }
    LineNow CurrentLine() const;
    int64_t WireUs(const LineNow& line, size_t bytes) const;

    void Step(int64_t nowUs);
    void FeedDue(int64_t nowUs);
    void Collect();
    std::string WriteDue(int64_t nowUs);
    int64_t NextDueUs(int64_t nowUs) const;
    void CheckFinished(int64_t nowUs);

    std::string OpenLine();
    void LineHungUp(const char* why);
    void TryReopen(int64_t nowUs);
    void WatchState(int64_t nowUs);
    void OperatorReconnect(int64_t nowUs);
    void UsbUnplug(const char* why);
    void UsbPlug();
    std::string DrainMaster();
    std::string HandleWatch();
    void HandleSignals();
    void HostGone(int64_t nowUs, bool talked);
    void Replug(int64_t nowUs, const char* why);
    void PowerCycle(int64_t nowUs, const char* why);
    void DropOutput();
    void Finish(const std::string& reason);
    void Log(const std::string& text) const;

    Controller& controller_;
    ServeOptions options_;
    bool tty_ = false;  // serving options_.ttyPath
    std::optional<UdcSwitch> udc_;
    int64_t reconnectDueUs_ = -1;  // the operator's replug or power cycle comes then
    int64_t reopenDueUs_ = -1;     // tty: look for the line again then
    bool linkLostSeen_ = false;
    std::string failure_;  // what failed outside the loop's own calls
    int master_ = -1;      // the pseudo-terminal's master, or the served tty
    int watch_ = -1;
    int signals_ = -1;
    sigset_t oldMask_{};
    bool maskChanged_ = false;
    int64_t startUs_ = 0;

    bool connected_ = false;     // a host has the slave open
    bool hungUp_ = false;        // the master reports that no slave is open
    uint64_t sessionBytes_ = 0;  // received since a host last opened the port
    std::deque<Incoming> incoming_;
    int64_t rxFreeUs_ = 0;  // with wire speed: when the line from the host is free again
    std::deque<Outgoing> pending_;
    // The reply being written: when its first byte went on the line, how much of it is out.
    bool sending_ = false;
    Outgoing current_;
    int64_t currentStartUs_ = 0;
    LineNow currentLine_;
    size_t currentDone_ = 0;
    int64_t txFreeUs_ = 0;
    bool txBlocked_ = false;
    int64_t completeSinceUs_ = -1;  // when a complete transfer's output had all been written

    State lastState_ = State::kApplication;
    bool stop_ = false;
    ServedFacts facts_;
};

}  // namespace fwburn::sim::plcsim

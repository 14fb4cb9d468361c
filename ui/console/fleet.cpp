#include "ui/console/fleet.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include "burn/burn.hpp"
#include "burn/messages.hpp"
#include "link/posix/discovery.hpp"
#include "ui/console/console_operator.hpp"
#include "ui/console/json_line.hpp"
#include "ui/console/mailbox.hpp"
#include "ui/console/outcome.hpp"
#include "ui/console/output_queue.hpp"
#include "ui/console/port_lock.hpp"
#include "ui/console/posix_link.hpp"
#include "ui/console/signals.hpp"

namespace fwburn::console {

std::string FleetTarget::Identity() const {
    if (physical.empty()) {
        return port;
    }
    return "usb " + physical + (serial.empty() ? std::string() : " serial " + serial);
}

std::string FleetTarget::Label() const {
    return physical.empty() ? ShortPortName(port) : physical;
}

int WorstExitCode(const std::vector<int>& codes) {
    // Most urgent first: a controller left erased, then the failures in the order a person
    // would chase them, and a cancel last, since it wrote nothing.
    static const int kOrder[] = {kExitFailedAfterErase, kExitCommFailed,   kExitControllerRefused,
                                 kExitPortFailed,       kExitImageRefused, kExitUnexpected};
    for (const int wanted : kOrder) {
        if (std::find(codes.begin(), codes.end(), wanted) != codes.end()) {
            return wanted;
        }
    }
    for (const int code : codes) {
        if (code != kExitSuccess && code != kExitCancelled) {
            return code;
        }
    }
    const bool cancelled = std::find(codes.begin(), codes.end(), kExitCancelled) != codes.end();
    return cancelled ? kExitCancelled : kExitSuccess;
}

std::vector<std::string> SummaryTable(const std::vector<FleetResult>& results, int columns) {
    size_t controllerWidth = std::string("CONTROLLER").size();
    size_t resultWidth = std::string("RESULT").size();
    for (const FleetResult& r : results) {
        controllerWidth = std::max(controllerWidth, r.controller.size());
        resultWidth = std::max(resultWidth, std::string(ResultName(ExitCode(r.exitCode))).size());
    }
    const auto row = [&](const std::string& controller, const std::string& result,
                         const std::string& time, const std::string& message) {
        std::string line = controller + std::string(controllerWidth - controller.size() + 2, ' ') +
                           result + std::string(resultWidth - result.size() + 2, ' ') +
                           std::string(time.size() < 7 ? 7 - time.size() : 0, ' ') + time + "  " +
                           message;
        // Printed once, but on a narrow terminal still kept to one line each.
        if (columns > 0 && line.size() > static_cast<size_t>(columns - 1)) {
            line.resize(columns > 4 ? columns - 4 : 0);
            line += "...";
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        return line;
    };
    std::vector<std::string> lines{row("CONTROLLER", "RESULT", "TIME", "MESSAGE")};
    for (const FleetResult& r : results) {
        lines.push_back(row(r.controller, ResultName(ExitCode(r.exitCode)),
                            FormatDuration(r.elapsed), r.message));
    }
    return lines;
}

std::string BoardLine(const std::string& label, const ProgressView& view, const char* result,
                      bool waiting, int columns) {
    const std::string tag = label + " ";
    const size_t limit = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
    if (result == nullptr) {
        const std::string line =
            waiting ? tag + "waiting for the replug"
                    : tag + TerminalLine(view, columns - static_cast<int>(tag.size()));
        return line.substr(0, limit);
    }
    // Nothing is left to come: no rate, no time left. A run that never began a phase has no
    // count to tell (the checks counted nothing).
    std::string line = tag + result;
    if (view.phase != Phase::Checking) {
        line += std::string("  ") + PhaseTitle(view.phase) + " " + std::to_string(view.done) + "/" +
                std::to_string(view.total) + " " + view.unit();
    }
    if (view.errCounter != 0 || view.totalErrCounter != 0) {
        line += "  retries " + std::to_string(view.errCounter) + "/" +
                std::to_string(view.totalErrCounter);
    }
    return line.substr(0, limit);
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTickMs = 100;
constexpr std::chrono::milliseconds kLastWords(300);
// A replug prompt waits this long for the other controllers to reach theirs, so that one
// question covers them all; it is asked at once when every running update is waiting.
constexpr std::chrono::milliseconds kGather(3000);
// The one question's last line; its answer goes to every controller listed.
constexpr char kQuestion[] = "Press Enter to continue with all of them (n and Enter cancels all): ";

int Columns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) {
        return size.ws_col;
    }
    return 80;
}

// One controller's update.
struct Unit {
    Unit(const FleetTarget& t, PosixLink::Finder find, bool yes, uint32_t blockSize)
        : target(t),
          link(find ? PosixLink(std::move(find), t.Identity() + ": the controller is not attached")
                    : PosixLink(t.port)),
          op(mailbox, link, yes),
          tracker(blockSize) {}

    FleetTarget target;
    PosixLink link;
    Mailbox mailbox;
    ConsoleOperator op;
    Update update;
    ProgressTracker tracker;
    std::unique_ptr<Screen> screen;
    PortLock lock;
    std::thread worker;
    bool timerRunning = true;
    bool finalShown = false;
    bool gaveUp = false;
    bool waiting = false;  // at a reconnect prompt, for Enter
    std::string caption;
    std::string text;
    std::optional<UpdateOutcome> returned;
    // Where it stopped, taken with the final message: the worker clears its figures after it.
    std::optional<ProgressView> last;
    int code = kExitUnexpected;
    double elapsed = 0;
    std::string message;
};

class FleetRun {
  public:
    FleetRun(const Options& options, const RunInfo& info, ScreenMode mode, bool usb)
        : options_(options),
          info_(info),
          mode_(mode),
          usb_(usb),
          output_(STDOUT_FILENO, STDERR_FILENO) {}

    int Run(const std::vector<FleetTarget>& targets, const std::string& sysRoot,
            const std::string& devRoot);

  private:
    double Seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
    bool Lock(Unit& unit);
    void Handle(Unit& unit, const Request& r);
    void Tick();
    void AskIfReady();
    void ReadAnswer(short revents);
    void Reply(fwburn::Answer answer);
    void ClearBoard();
    void DrawBoard();
    static std::string BoardLine(Unit& unit, int columns);
    void Summary();
    [[noreturn]] void Interrupt(int signo);

    const Options& options_;
    RunInfo info_;
    ScreenMode mode_;
    bool usb_;
    OutputQueue output_;
    std::vector<std::unique_ptr<Unit>> units_;
    // Shared by runs of several controllers, taken alone by a run that discovers its controller:
    // that one would take any controller on the link, one of these among them while it is
    // unplugged for its replug, when no tty of it is there to be locked.
    PortLock usbLock_;
    bool usbLockHeld_ = false;
    Clock::time_point start_ = Clock::now();
    std::optional<Clock::time_point> firstWaiting_;
    bool asking_ = false;      // the one question is on screen
    AnswerInput answerInput_;  // "n", "no" or "q" and Enter cancel, as end of input does
    int boardLines_ = 0;       // the board's lines on screen, for a terminal
};

// Why `lock` was not had, for the line before the refusal.
std::string LockRefusal(const PortLock& lock, const std::string& what) {
    if (lock.busyFile().empty()) {
        return "cannot lock the port: " + lock.why();
    }
    const std::string holder =
        lock.holder() > 0 ? std::to_string(lock.holder()) : std::string("unknown");
    return what + ": another update of this PLC is running (process " + holder + "; lock file " +
           lock.busyFile() + ")";
}

bool FleetRun::Lock(Unit& unit) {
    const bool usbController = !unit.target.physical.empty();
    if (usbController && !usbLockHeld_) {
        unit.screen->OpenFailed(LockRefusal(usbLock_, "the PLC on USB"), false);
        return false;
    }
    std::vector<std::string> identities{PortIdentity(unit.target.port)};
    if (usbController) {
        identities.push_back(unit.target.Identity());
    }
    if (unit.lock.Take(identities, LockDirectories()) == PortLock::Status::kHeld) {
        return true;
    }
    unit.screen->OpenFailed(LockRefusal(unit.lock, unit.target.Identity()), false);
    return false;
}

void FleetRun::Handle(Unit& unit, const Request& r) {
    if (r.kind != Request::kPhase && r.kind != Request::kAdvanced && r.kind != Request::kRetried &&
        r.kind != Request::kStopTimer && r.kind != Request::kDone) {
        ClearBoard();
    }
    if (r.kind == Request::kFinal) {
        unit.code = ExitCodeFor(r.outcome.kind);
        unit.finalShown = true;
        unit.elapsed = Seconds();
        unit.message = std::string(r.outcome.caption) + ": " + r.outcome.text;
        unit.tracker.Counters(unit.update.figures.errCounter, unit.update.figures.totalErrCounter);
    }
    if (Present(*unit.screen, unit.tracker, r, Seconds())) {
        if (r.kind == Request::kFinal) {
            unit.last = unit.tracker.view();
            unit.mailbox.Reply(Answer::Ok);
        }
        return;
    }
    switch (r.kind) {
        case Request::kAsk:
            unit.waiting = true;
            unit.caption = r.caption;
            unit.text = r.text;
            unit.screen->PromptEvent(r.caption.c_str(), r.text.c_str(), true, r.number);
            if (!firstWaiting_) {
                firstWaiting_ = Clock::now();
            }
            if (asking_ && mode_ != ScreenMode::kJson) {
                // The question on screen covers it too: said on a line of its own.
                std::fprintf(output_.err(),
                             "\n%s waits for this Enter too: ", unit.target.Identity().c_str());
                std::fflush(output_.err());
            }
            return;
        case Request::kAnswered:
            unit.screen->Prompt(r.caption.c_str(), r.text.c_str(), false, r.number);
            return;
        case Request::kGaveUp:
            unit.gaveUp = true;
            unit.screen->GaveUp(r.number);
            return;
        case Request::kWaiting:
            unit.screen->Waiting(r.number);
            return;
        case Request::kOpened:
            unit.screen->Opened(r.text, r.reopen);
            return;
        case Request::kOpenFailed:
            unit.screen->OpenFailed(r.text, r.reopen);
            return;
        case Request::kStopTimer:
            unit.timerRunning = false;
            unit.mailbox.Reply(Answer::Ok);
            return;
        case Request::kDone:
            unit.returned = r.outcome;
            if (!unit.finalShown) {
                ClearBoard();
                unit.elapsed = Seconds();
                unit.code =
                    r.outcome.kind == OutcomeKind::Cancelled ? kExitCancelled : kExitUnexpected;
                if (unit.code == kExitCancelled) {
                    unit.screen->Cancelled(unit.elapsed, unit.gaveUp);
                    unit.message = "cancelled at the reconnect step; nothing was erased";
                }
            }
            unit.lock.Release();  // the worker has closed its port for good
            return;
        default:
            return;
    }
}

// One question for every controller waiting at its reconnect prompt.
void FleetRun::AskIfReady() {
    if (asking_ || !firstWaiting_) {
        return;
    }
    bool everyone = true;
    std::vector<Unit*> waiting;
    for (auto& unit : units_) {
        if (unit->waiting) {
            waiting.push_back(unit.get());
        } else if (!unit->returned) {
            everyone = false;
        }
    }
    if (waiting.empty() || (!everyone && Clock::now() < *firstWaiting_ + kGather)) {
        return;
    }
    ClearBoard();
    asking_ = true;
    std::string text = waiting.front()->caption + ": " + waiting.front()->text + "\nWaiting:";
    for (Unit* unit : waiting) {
        text += "\n  " + unit->target.Identity() +
                (unit->target.physical.empty() ? "" : " (" + unit->target.port + ")");
    }
    std::fprintf(output_.err(), "%s\n%s", text.c_str(), kQuestion);
    std::fflush(output_.err());
}

// One byte at a time: a line typed ahead answers one question and no more.
void FleetRun::ReadAnswer(short revents) {
    char c = 0;
    const ssize_t n = (revents & POLLNVAL) != 0 ? 0 : read(STDIN_FILENO, &c, 1);
    if (const std::optional<Answer> answer = answerInput_.Take(n, c, errno)) {
        Reply(*answer);
    }
}

void FleetRun::Reply(fwburn::Answer answer) {
    asking_ = false;
    firstWaiting_.reset();
    for (auto& unit : units_) {
        if (unit->waiting) {
            unit->waiting = false;
            unit->screen->PromptAnswered(answer);
            unit->mailbox.Reply(answer);
        }
    }
    std::fflush(output_.err());
}

std::string FleetRun::BoardLine(Unit& unit, int columns) {
    const bool ended = unit.returned || unit.finalShown;
    return console::BoardLine(unit.target.Label(), unit.last ? *unit.last : unit.tracker.view(),
                              ended ? ResultName(ExitCode(unit.code)) : nullptr, unit.waiting,
                              columns);
}

void FleetRun::ClearBoard() {
    if (boardLines_ > 0) {
        std::fprintf(output_.out(), "\033[%dA\r\033[J", boardLines_);
        std::fflush(output_.out());
        boardLines_ = 0;
    }
}

// A terminal shows one line per controller, redrawn in place below the lines already said.
void FleetRun::DrawBoard() {
    if (mode_ != ScreenMode::kTerminal || asking_) {
        return;
    }
    const int columns = Columns();
    std::string text = boardLines_ > 0 ? "\033[" + std::to_string(boardLines_) + "A\r" : "\r";
    for (auto& unit : units_) {
        text += BoardLine(*unit, columns) + "\033[K\n";
    }
    std::fputs(text.c_str(), output_.out());
    std::fflush(output_.out());
    boardLines_ = static_cast<int>(units_.size());
}

void FleetRun::Tick() {
    const double now = Seconds();
    for (auto& unit : units_) {
        if (unit->finalShown || unit->returned) {
            continue;
        }
        if (unit->timerRunning) {
            unit->update.figures.elapsedTime = static_cast<int32_t>(now);
        }
        unit->tracker.Counters(unit->update.figures.errCounter,
                               unit->update.figures.totalErrCounter);
        unit->tracker.At(now);
    }
    DrawBoard();
}

void FleetRun::Summary() {
    // Each controller's last line stays, as a single update's last status line does.
    DrawBoard();
    boardLines_ = 0;
    std::vector<FleetResult> results;
    std::string controllers = "[";
    std::vector<int> codes;
    for (auto& unit : units_) {
        codes.push_back(unit->code);
        results.push_back({unit->target.Identity(), unit->code, unit->elapsed, unit->message});
        JsonLine one;
        one.Add("port", unit->target.port)
            .Add("identity", unit->target.Identity())
            .Add("result", ResultName(ExitCode(unit->code)))
            .Add("exitCode", unit->code)
            .Add("message", unit->message)
            .AddFixed("elapsed", unit->elapsed);
        std::string object = one.Text();
        object.pop_back();  // its newline
        controllers += (controllers.size() > 1 ? "," : "") + object;
    }
    const int worst = WorstExitCode(codes);
    if (mode_ == ScreenMode::kJson) {
        JsonLine line;
        line.Add("event", "summary")
            .AddRaw("controllers", controllers + "]")
            .Add("exitCode", worst)
            .Add("result", ResultName(ExitCode(worst)))
            .AddFixed("elapsed", Seconds());
        std::fputs(line.Text().c_str(), output_.out());
    } else {
        std::fputs("Summary:\n", output_.out());
        for (const std::string& row :
             SummaryTable(results, mode_ == ScreenMode::kTerminal ? Columns() : 0)) {
            std::fprintf(output_.out(), "%s\n", row.c_str());
        }
    }
    std::fflush(output_.out());
}

void FleetRun::Interrupt(int signo) {
    for (auto& unit : units_) {
        unit->link.ReleaseForExit();
    }
    ClearBoard();
    const int status = ExitStatusForSignal(signo);
    const double now = Seconds();
    for (auto& unit : units_) {
        while (std::optional<Request> request = unit->mailbox.TakeProgress()) {
            Present(*unit->screen, unit->tracker, *request, now);
        }
        if (!unit->returned && !unit->finalShown) {
            unit->screen->Settle(unit->tracker.At(now), now);
            unit->screen->Interrupted(EndingSignalName(signo), status, unit->tracker.view().phase,
                                      now);
        }
    }
    output_.DrainUntil(Clock::now() + kLastWords);
    for (auto& unit : units_) {
        unit->lock.Release();
    }
    usbLock_.Release();
    _exit(status);
}

int FleetRun::Run(const std::vector<FleetTarget>& targets, const std::string& sysRoot,
                  const std::string& devRoot) {
    const int signalFd = TakeEndingSignals();
    if (signalFd < 0) {
        std::fprintf(stderr, "%s: cannot take signals: %s\n", info_.program.c_str(),
                     std::strerror(errno));
        return kExitUnexpected;
    }
    for (const FleetTarget& target : targets) {
        PosixLink::Finder find;
        if (!target.physical.empty()) {
            find = [target, sysRoot, devRoot] {
                return posix::FindControllerTty(target.physical, target.serial, sysRoot, devRoot);
            };
        }
        auto unit =
            std::make_unique<Unit>(target, std::move(find), options_.yes, info_.totals.blockSize);
        unit->screen =
            mode_ == ScreenMode::kJson
                ? MakeJsonScreen(output_.out(), output_.err())
                : MakePlainScreen(output_.out(), output_.err(), mode_ == ScreenMode::kPlain,
                                  mode_ == ScreenMode::kTerminal ? std::function<int()>(Columns)
                                                                 : std::function<int()>());
        unit->screen->Tag("[" + target.Label() + "] ",
                          {{"port", target.port}, {"identity", target.Identity()}});
        unit->update.UseThisBuild();
        unit->update.standInAllowed = options_.allowStandIn;
        unit->update.SetPortName(usb_ ? "USB" : ShortPortName(target.port).c_str());
        unit->update.op = &unit->op;
        unit->update.sink = &unit->op;
        RunInfo info = info_;
        info.port = target.port;
        unit->screen->Start(info);
        units_.push_back(std::move(unit));
    }
    start_ = Clock::now();
    if (std::any_of(targets.begin(), targets.end(),
                    [](const FleetTarget& t) { return !t.physical.empty(); })) {
        usbLockHeld_ = usbLock_.Take({UsbControllerIdentity()}, LockDirectories(),
                                     PortLock::Mode::kShared) == PortLock::Status::kHeld;
    }
    for (auto& unit : units_) {
        if (!Lock(*unit)) {
            UpdateOutcome refused;
            refused.kind = OutcomeKind::PortNotOpened;
            refused.caption = kErrorCaption;
            char text[30];
            OpenFailureText(usb_ ? "USB" : ShortPortName(unit->target.port).c_str(), text);
            std::snprintf(refused.text, sizeof refused.text, "%s", text);
            unit->returned = refused;
            unit->code = kExitPortFailed;
            unit->elapsed = Seconds();
            unit->message = std::string(refused.caption) + ": " + refused.text;
            unit->screen->Final(refused, kExitPortFailed, unit->elapsed);
            continue;
        }
        Unit* u = unit.get();
        u->worker = std::thread([u] {
            Request done;
            done.outcome = StartBurn(u->update);
            u->mailbox.Send(std::move(done));
        });
    }

    Clock::time_point nextTick = Clock::now();
    const auto running = [this] {
        return std::any_of(units_.begin(), units_.end(),
                           [](const auto& unit) { return !unit->returned; });
    };
    std::vector<pollfd> fds;
    while (running()) {
        fds.assign({{signalFd, POLLIN, 0},
                    {output_.wakeFd(), POLLIN, 0},
                    {asking_ ? STDIN_FILENO : -1, POLLIN, 0}});
        for (auto& unit : units_) {
            fds.push_back({unit->returned ? -1 : unit->mailbox.wakeFd(), POLLIN, 0});
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextTick - Clock::now());
        poll(fds.data(), fds.size(),
             static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0)));
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                Interrupt(static_cast<int>(info.ssi_signo));
            }
        }
        if ((fds[1].revents & POLLIN) != 0) {
            output_.Take();
            if (output_.BrokenPipe()) {
                Interrupt(SIGPIPE);
            }
        }
        if (asking_ && fds[2].revents != 0) {
            ReadAnswer(fds[2].revents);
        }
        for (auto& unit : units_) {
            while (std::optional<Request> request = unit->mailbox.Take()) {
                Handle(*unit, *request);
            }
        }
        AskIfReady();
        if (Clock::now() >= nextTick) {
            Tick();
            nextTick += std::chrono::milliseconds(kTickMs);
            if (nextTick < Clock::now()) {
                nextTick = Clock::now() + std::chrono::milliseconds(kTickMs);
            }
        }
    }
    for (auto& unit : units_) {
        if (unit->worker.joinable()) {
            unit->worker.join();
        }
    }
    usbLock_.Release();  // every port is closed for good
    Summary();
    std::vector<int> codes;
    for (auto& unit : units_) {
        codes.push_back(unit->code);
        unit->screen->Restore();
    }
    output_.DrainUntil(Clock::now());
    for (;;) {
        output_.Take();
        if (output_.Idle()) {
            break;
        }
        pollfd drain[2] = {{signalFd, POLLIN, 0}, {output_.wakeFd(), POLLIN, 0}};
        poll(drain, 2, -1);
        if ((drain[0].revents & POLLIN) != 0) {
            break;
        }
    }
    return WorstExitCode(codes);
}

}  // namespace

int RunFleet(const Options& options, const RunInfo& info, ScreenMode mode, bool usb,
             const std::vector<FleetTarget>& targets, const std::string& sysRoot,
             const std::string& devRoot) {
    FleetRun run(options, info, mode, usb);
    return run.Run(targets, sysRoot, devRoot);
}

}  // namespace fwburn::console

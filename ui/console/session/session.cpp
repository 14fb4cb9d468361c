#include "ui/console/session/session.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "ui/console/session/outcome.hpp"
#include "ui/console/session/queued_trace.hpp"
#include "ui/console/show/board.hpp"
#include "ui/console/show/json_line.hpp"
#include "ui/console/show/wording.hpp"

namespace fwburn::console {

namespace {

constexpr std::chrono::milliseconds kTick(100);  // the window repaints its panel every 100 ms too

bool IsProgress(Request::Kind kind) {
    return kind == Request::kPhase || kind == Request::kAdvanced || kind == Request::kRetried ||
           kind == Request::kStopTimer || kind == Request::kDone;
}

}  // namespace

Session::Session(Host& host, const Options& options, const RunInfo& info, ScreenMode mode,
                 int programRow, Run::Kind kind)
    : host_(host),
      options_(options),
      info_(info),
      mode_(mode),
      programRow_(programRow),
      kind_(kind),
      usb_(IsUsbLinked(programRow)) {}

Session::~Session() = default;

double Session::Seconds() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
}

// Every kind of run takes the same locks: the port's, a pinned controller's own, and the USB
// link's, so that neither a look nor another update takes a controller that an update holds
// while it is unplugged for its replug.
bool Session::Lock(console::Run& run) {
    const std::string what = run.target.pinned()       ? run.target.Identity()
                             : run.target.port.empty() ? "the PLC on USB"
                                                       : run.target.port;
    std::string refusal;
    run.lock = host_.Lock(TargetIdentities(run.target, host_), false, what, refusal);
    if (run.lock == nullptr) {
        Refuse(run, kExitPortFailed, NotOpened(usb_, run.target.port), refusal);
        return false;
    }
    return true;
}

// A run that never opened its port; `reason`, when there is one, is why its open was refused.
void Session::Refuse(console::Run& run, ExitCode code, const UpdateOutcome& outcome,
                     const std::string& reason) {
    run.returned = outcome;
    run.code = code;
    run.elapsed = Seconds();
    run.message = std::string(outcome.caption) + ": " + outcome.text;
    run.look.openFailure = reason.empty() ? outcome.text : reason;
    if (run.screen != nullptr) {
        if (!reason.empty()) {
            run.screen->OpenFailed(reason, false);
        }
        run.screen->Final(outcome, code, run.elapsed);
    }
}

void Session::Handle(console::Run& run, const Request& r) {
    if (several() && !IsProgress(r.kind)) {
        ClearBoard();
    }
    if (r.kind == Request::kDone) {
        run.returned = r.outcome;
        Ended(run);
        return;
    }
    if (r.kind == Request::kFinal) {
        CheckTrace(*run.screen);  // said before the outcome, which carries it
        if (const size_t dropped = trace_ != nullptr ? trace_->DroppedAtOutcome() : 0) {
            run.screen->AddOutcomeField("traceDropped", dropped);
        }
        run.code = ExitCodeFor(r.outcome.kind);
        run.finalShown = true;
        run.elapsed = Seconds();
        run.message = std::string(r.outcome.caption) + ": " + r.outcome.text;
        // The worker waits for the reply: its figures are the final ones.
        run.tracker.Counters(run.update.figures.errCounter, run.update.figures.totalErrCounter);
    }
    if (Present(*run.screen, run.tracker, r, Seconds())) {
        if (r.kind == Request::kFinal) {
            run.last = run.tracker.view();
            run.mailbox.Reply(Answer::Ok);
        }
        return;
    }
    switch (r.kind) {
        case Request::kAsk:
            question_->Arrived(run, r);
            return;
        case Request::kAnswered:
            run.screen->Prompt(r.caption.c_str(), r.text.c_str(), false, r.number);
            return;
        case Request::kGaveUp:
            run.gaveUp = r.number;
            run.screen->GaveUp(r.number);
            return;
        case Request::kWaiting:
            run.screen->Waiting(r.number);
            return;
        case Request::kOpened:
            run.screen->Opened(r.text, r.reopen);
            return;
        case Request::kOpenFailed:
            run.screen->OpenFailed(r.text, r.reopen);
            return;
        case Request::kStopTimer:
            run.timerRunning = false;
            run.mailbox.Reply(Answer::Ok);
            return;
        default:
            return;
    }
}

// The worker has returned: its port is closed for good, and its lock goes.
void Session::Ended(console::Run& run) {
    run.elapsed = run.finalShown ? run.elapsed : Seconds();
    if (run.kind == Run::Kind::kUpdate && !run.finalShown) {
        ClearBoard();
        run.code = run.returned->kind == OutcomeKind::Cancelled ? kExitCancelled : kExitUnexpected;
        if (run.code == kExitCancelled) {
            run.screen->Cancelled(run.elapsed, run.gaveUp != 0);
            run.message = run.gaveUp != 0 ? GaveUpText(run.gaveUp)
                                          : "cancelled at the reconnect step; nothing was erased";
        }
    }
    if (run.kind == Run::Kind::kLook) {
        run.code = InfoExitCode(run.look);
    }
    if (run.lock != nullptr) {
        run.lock->Release();
    }
}

// The tick: the elapsed time the window's timer counts, and the status lines redrawn with the
// retry counters as the panel shows them.
void Session::Tick() {
    if (kind_ == Run::Kind::kUpdate) {
        CheckTrace(*runs_.front()->screen);
    }
    const double now = Seconds();
    for (auto& run : runs_) {
        if (run->kind != Run::Kind::kUpdate || run->finalShown || run->ended()) {
            continue;  // the worker clears the figures after the final message: keep its view
        }
        if (run->timerRunning) {
            run->update.figures.elapsedTime = static_cast<int32_t>(now);
        }
        run->tracker.Counters(run->update.figures.errCounter, run->update.figures.totalErrCounter);
        if (several()) {
            run->tracker.At(now);
        } else {
            run->screen->Tick(run->tracker.At(now));
        }
    }
    DrawBoard();
}

// A trace that could not be written is said once and carried into the outcome; the update goes
// on, and its exit status stays its own.
void Session::CheckTrace(Screen& screen) {
    if (trace_ == nullptr || traceErrorShown_ || trace_->WriteError() == 0) {
        return;
    }
    traceErrorShown_ = true;
    screen.Note(trace_->ErrorNote() + ", the update goes on");
    screen.AddOutcomeField("traceError", trace_->ErrorReason());
}

void Session::ClearBoard() {
    if (boardLines_ > 0) {
        std::fprintf(host_.out(), "\033[%dA\r\033[J", boardLines_);
        std::fflush(host_.out());
        boardLines_ = 0;
    }
}

// A terminal shows one line per controller, redrawn in place below the lines already said.
void Session::DrawBoard() {
    if (!several() || kind_ != Run::Kind::kUpdate || mode_ != ScreenMode::kTerminal ||
        question_->asking()) {
        return;
    }
    std::vector<BoardEntry> entries;
    for (auto& run : runs_) {
        const bool ended = run->ended() || run->finalShown;
        entries.push_back({run->target.Label(), run->last ? *run->last : run->tracker.view(),
                           ended ? ResultName(ExitCode(run->code)) : nullptr, run->waiting,
                           ended && run->code != kExitSuccess});
    }
    const std::vector<std::string> lines = BoardLines(entries, host_.Columns(), host_.Rows());
    if (lines.empty() && boardLines_ == 0) {
        return;  // a terminal of two rows or fewer: no room for a board
    }
    std::string text = boardLines_ > 0 ? "\033[" + std::to_string(boardLines_) + "A\r" : "\r";
    if (lines.size() < static_cast<size_t>(boardLines_)) {
        // A terminal made shorter shortens the board: nothing of the longer one stays below it.
        // Cleared here, so that the redraw still ends its last line as the writer lanes expect.
        text += "\033[J";
    }
    for (const std::string& line : lines) {
        text += line + "\033[K\n";
    }
    std::fputs(text.c_str(), host_.out());
    std::fflush(host_.out());
    boardLines_ = static_cast<int>(lines.size());
}

// The stop key: the terminal goes to the shell as it was found. The board is drawn anew below
// whatever the shell writes meanwhile, never over it.
void Session::Suspend() {
    for (auto& run : runs_) {
        if (run->screen != nullptr) {
            run->screen->Suspend();
        }
    }
    const double stoppedAt = Seconds();
    host_.Suspend();
    Resumed(Seconds() - stoppedAt);
}

// SIGCONT, `sinceLastWake` after the loop last woke, which it does at every tick: how long a stop
// that the program was not asked about (SIGSTOP, a debugger) lasted; 0 for a SIGCONT that
// continued nothing.
double Session::StoppedFor(Clock::duration sinceLastWake) {
    const Clock::duration stopped = sinceLastWake - kTick;
    return stopped < kTick ? 0 : std::chrono::duration<double>(stopped).count();
}

// Continued after a stop of `stopped` seconds, which the rate leaves out: the shell has written
// below the screen, so the board is drawn anew under it and a question on screen is asked again.
void Session::Resumed(double stopped) {
    boardLines_ = 0;
    for (auto& run : runs_) {
        run->tracker.Paused(stopped);
        if (run->screen != nullptr) {
            run->screen->Resumed();
        }
    }
    question_->Resumed();
}

int Session::Run(const TargetChoice& choice) {
    try {
        return RunTargets(choice);
    } catch (const std::exception& e) {
        Abandon(e.what());
    }
}

int Session::RunTargets(const TargetChoice& choice) {
    const bool update = kind_ == Run::Kind::kUpdate;
    if (choice.exitCode != 0) {
        return NotRun(choice.exitCode, choice.error);
    }
    if (!options_.trace.empty()) {
        int error = 0;
        trace_ = host_.OpenTrace(options_.trace, error);
        if (trace_ == nullptr && error == kTraceOnALine) {
            return NotRun(kExitUsage, "--trace " + options_.trace +
                                          ": a serial port or console, not a file: the trace "
                                          "would be sent down its line (name a file)");
        }
        if (trace_ == nullptr) {
            // ENXIO is also /dev/tty without a controlling terminal: the hint is for a FIFO only.
            std::error_code unknown;
            const bool readerless =
                error == ENXIO && std::filesystem::is_fifo(options_.trace, unknown);
            return NotRun(kExitUsage,
                          "--trace " + options_.trace +
                              ": cannot write the file: " + std::strerror(error) +
                              (readerless ? " (a FIFO needs its reader started first)" : ""));
        }
    }
    for (const Target& target : choice.targets) {
        runs_.push_back(std::make_unique<console::Run>(kind_, target, host_, options_.yes,
                                                       info_.totals.blockSize));
    }
    question_ = std::make_unique<Question>(
        host_.err(), several(), mode_ == ScreenMode::kJson,
        mode_ == ScreenMode::kTerminal ? std::function<int()>([this] { return host_.Columns(); })
                                       : std::function<int()>());
    for (auto& run : runs_) {
        if (update) {
            RunInfo info = info_;
            // One controller's start line names the port as given; null when discovered.
            info.port = several() || !options_.ports.empty() ? run->target.port : "";
            run->PrepareUpdate(host_, info, mode_, several(), usb_, options_.allowStandIn);
            if (several()) {
                run->screen->BeforeEachLine([this] { question_->BreakOff(); });
            }
        }
        if (trace_ != nullptr) {
            run->link->TraceTo(trace_->writer());
        }
    }
    // Asked on this thread before any worker starts, and never again in the session.
    if (update) {
        awake_ = host_.StayAwake(info_.program);
    }
    start_ = Clock::now();
    // A look holds a port exclusively while it probes: no update can take it meanwhile. It holds
    // the link shared as an update of a pinned controller does, or an update that takes whichever
    // controller it finds could take the one it probes, between that update's close and reopen.
    const bool pinned = std::any_of(choice.targets.begin(), choice.targets.end(),
                                    [](const Target& t) { return t.pinned(); });
    if (pinned || choice.discovering) {
        std::string refusal;
        linkLock_ =
            host_.Lock({host_.UsbLinkIdentity()}, !choice.discovering, "the PLC on USB", refusal);
        if (linkLock_ == nullptr) {
            for (auto& run : runs_) {
                Refuse(*run, kExitPortFailed, NotOpened(usb_, run->target.port), refusal);
            }
        }
    }
    for (auto& run : runs_) {
        if (!run->ended() && Lock(*run)) {
            if (const std::string why = run->Start(programRow_); !why.empty()) {
                Refuse(*run, kExitUnexpected, NotStarted(why), {});
                run->lock->Release();
            }
        }
    }

    Clock::time_point nextTick = Clock::now();
    Clock::time_point lastWake = nextTick;
    const auto running = [this] {
        return std::any_of(runs_.begin(), runs_.end(), [](const auto& r) { return !r->ended(); });
    };
    while (running()) {
        const Host::Event event = host_.Wait(nextTick, question_->asking());
        const Clock::time_point woke = Clock::now();
        if (event.signal != 0) {
            Interrupt(event);
        }
        if (event.suspend) {
            Suspend();
        }
        const double stopped = event.resumed ? StoppedFor(woke - lastWake) : 0;
        if (stopped > 0 || event.foreground) {
            Resumed(stopped);
        }
        lastWake = woke;
        if (event.answer) {
            if (several()) {
                ClearBoard();
            }
            question_->Answered(runs_, *event.answer, event.echoed);
        }
        for (auto& run : runs_) {
            while (std::optional<Request> request = run->mailbox.Take()) {
                Handle(*run, *request);
            }
            if (const char* failure = run->WorkerFailure()) {
                Abandon(failure);
            }
        }
        if (several() && update && question_->Ready(runs_)) {
            ClearBoard();
            question_->Ask(runs_);
        }
        question_->AskAgain();  // below what was said while it waited
        if (Clock::now() >= nextTick) {
            Tick();
            nextTick += kTick;
            if (nextTick < Clock::now()) {
                nextTick = Clock::now() + kTick;
            }
        }
    }
    return Finish();
}

}  // namespace fwburn::console

// The end of a session: the workers joined, then the single outcome's notes, the several
// controllers' summary or the looks' table, and the terminal given back; or, ended by a signal
// or a failure of the system, at once; or refused before any controller was taken.
#include "ui/console/session/session.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>

#include "catalogue/catalogue.hpp"
#include "ui/console/session/outcome.hpp"
#include "ui/console/session/queued_trace.hpp"
#include "ui/console/show/board.hpp"
#include "ui/console/show/info_table.hpp"
#include "ui/console/show/json_line.hpp"
#include "ui/console/show/progress.hpp"
#include "ui/console/show/screen.hpp"
#include "ui/console/show/shown_text.hpp"

namespace fwburn::console {

int Session::Finish() {
    for (auto& run : runs_) {
        run->Join();
    }
    if (linkLock_ != nullptr) {
        linkLock_->Release();  // every port is closed for good
    }
    if (awake_ != nullptr) {
        awake_->Release();  // every worker has returned: nothing is written any more
    }
    int code = kExitSuccess;
    if (kind_ == Run::Kind::kLook) {
        code = LookResults();
    } else if (several()) {
        code = Summary();
    } else {
        code = runs_.front()->code;
        EndTrace(runs_.front()->screen.get());
    }
    for (auto& run : runs_) {
        if (run->screen != nullptr) {
            run->screen->Restore();
        }
    }
    return code;
}

// Each controller's last line stays, as a single update's last status line does; then the table.
int Session::Summary() {
    DrawBoard();
    boardLines_ = 0;
    std::vector<SummaryRow> rows;
    for (auto& run : runs_) {
        rows.push_back(
            {run->target.Identity(), run->code, run->elapsed, run->message, run->target.port});
    }
    const bool terminal = mode_ == ScreenMode::kTerminal;
    const int code = ShowSummary(host_.out(), rows, mode_ == ScreenMode::kJson,
                                 terminal ? host_.Columns() : 0, Seconds());
    if (const std::string tail = terminal ? SummaryTail(rows, host_.Columns(), host_.Rows()) : "";
        !tail.empty()) {
        std::fprintf(host_.out(), "%s\n", tail.c_str());
        std::fflush(host_.out());
    }
    return code;
}

int Session::LookResults() {
    std::vector<InfoRow> rows;
    for (auto& run : runs_) {
        rows.push_back(run->look);
    }
    const int code = ShowInfo(host_.out(), rows, info_.program, programRow_, options_.json,
                              info_.standIn, mode_ == ScreenMode::kTerminal ? host_.Columns() : 0);
    EndTrace(nullptr);
    return code;
}

// The trace's closing note comes after the outcome or the table: only now is a failure on it
// known. Said through the update's screen, or on stderr after a look's table.
void Session::EndTrace(Screen* screen) {
    const size_t dropped = trace_ != nullptr ? trace_->Finish() : 0;
    const bool failed = trace_ != nullptr && trace_->WriteError() != 0 && !traceErrorShown_;
    for (const std::string& note :
         {failed ? trace_->ErrorNote() : "", dropped > 0 ? trace_->DroppedNote(dropped) : ""}) {
        if (note.empty()) {
            continue;
        }
        if (screen != nullptr) {
            screen->Note(note);
        } else {
            std::fprintf(host_.err(), "%s: %s\n", info_.program.c_str(), Shown(note).c_str());
        }
    }
}

// The ports first: nothing after them, a blocked terminal least of all, may stand in their way.
// A look whose end waits in its mailbox keeps its findings; taken before the ports go, so that no
// look cut short by their going counts as ended. A worker busy opening or closing its port gets
// one moment, shared by all: the process ends once, and ten stuck workers must not add up ten.
void Session::LetPortsGo() {
    const Clock::time_point giveUpAt = Clock::now() + std::chrono::milliseconds(300);
    for (auto& run : runs_) {
        while (std::optional<Request> request =
                   run->kind == Run::Kind::kLook ? run->mailbox.Take() : std::nullopt) {
            Handle(*run, *request);
        }
        run->link->ReleaseForExit(giveUpAt);
    }
    ClearBoard();
    if (question_ != nullptr) {
        question_->Interrupted();
    }
}

// The last lines get their moment, the locks go with their files, and the process ends at once:
// no worker is waited for.
void Session::EndNow(int status) {
    host_.LastWords();
    for (auto& run : runs_) {
        if (run->lock != nullptr) {
            run->lock->Release();  // its file too; the kernel would drop the lock itself
        }
    }
    if (linkLock_ != nullptr) {
        linkLock_->Release();
    }
    host_.Exit(status);
    std::_Exit(status);  // not reached: the host has ended the process
}

void Session::Interrupt(const Host::Event& signal) {
    LetPortsGo();
    if (kind_ == Run::Kind::kLook) {
        std::fprintf(host_.err(), "%s: --info interrupted by %s\n", info_.program.c_str(),
                     signal.signalName);
        std::fflush(host_.err());
    }
    // When no update was under way any more, each had shown its own outcome: its status stands.
    int status = signal.signalStatus;
    if (!StopUpdates(signal.signalName, status) && kind_ == Run::Kind::kUpdate) {
        std::vector<int> codes;
        for (const auto& run : runs_) {
            codes.push_back(run->code);
        }
        status = WorstExitCode(codes);
    }
    CloseEarly(signal.signalName, status);
    EndNow(status);
}

constexpr std::chrono::milliseconds kEndFollows{250};

// Each update still under way says where it stopped and whether the erase had begun; whether
// any did. One that had come to its end before `cause` (its timer stopped, its final message or
// its return waiting in its mailbox) is told as the loop would have told it, its own outcome.
bool Session::StopUpdates(const char* cause, int status) {
    const double now = Seconds();
    bool said = false;
    for (auto& run : runs_) {
        if (run->kind != Run::Kind::kUpdate || run->ended() || run->finalShown ||
            run->screen == nullptr) {
            continue;
        }
        if (run->mailbox.HoldsEnd()) {
            // Its outcome follows its timer's stop at once, with nothing on the line between.
            const Clock::time_point until = Clock::now() + kEndFollows;
            while (!run->finalShown && !run->ended() && Clock::now() < until) {
                if (std::optional<Request> request = run->mailbox.Take()) {
                    Handle(*run, *request);
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
            if (run->finalShown || run->ended()) {
                continue;
            }
        }
        CheckTrace(*run->screen);
        while (std::optional<Request> request = run->mailbox.Take(true)) {
            Present(*run->screen, run->tracker, *request, now);
        }
        run->screen->Settle(run->tracker.At(now), now);
        run->screen->Interrupted(cause, status, run->tracker.view().phase, now);
        said = true;
    }
    return said;
}

// JSON's closing record for a session ended before its end, after each update under way has said
// so in its outcome: each look's `info` object (those under way cut short by `cause`), or the
// several updates' summary, which carries the program's `status`.
void Session::CloseEarly(const char* cause, int status) {
    if (mode_ != ScreenMode::kJson) {
        return;
    }
    const double now = Seconds();
    if (kind_ == Run::Kind::kLook) {
        for (auto& run : runs_) {
            InfoRow row;
            if (run->ended()) {
                row = run->look;  // the worker is done with it
            } else {
                row.port = run->target.port;
                row.openFailure = std::string("interrupted by ") + cause;
                row.signal = cause;
                row.status = status;
            }
            std::fputs(InfoJson(row, info_.program, programRow_).c_str(), host_.out());
        }
    } else if (several()) {
        std::vector<SummaryRow> rows;
        for (auto& run : runs_) {
            const bool cut = !run->ended() && !run->finalShown;
            rows.push_back({run->target.Identity(), cut ? status : run->code,
                            cut ? now : run->elapsed,
                            cut ? std::string("interrupted by ") + cause : run->message,
                            run->target.port, cut});
        }
        ShowSummary(host_.out(), rows, true, 0, now, cause, status);
    }
    std::fflush(host_.out());
}

// Out of memory or threads past the start of the workers, which would wait for ever for the
// replies of a session unwound, or a worker's own such failure: the process ends here, as for a
// signal, its ports let go first, and an update under way says whether the erase had begun.
void Session::Abandon(const char* what) {
    LetPortsGo();
    bool said = false;
    try {
        char cause[200];
        std::snprintf(cause, sizeof cause, "a failure of the system (%s)", what);
        said = StopUpdates(cause, kExitUnexpected);
        CloseEarly(cause, kExitUnexpected);
    } catch (...) {  // still short of memory: the plain line below
    }
    if (!said) {
        std::fprintf(host_.err(), "%s: %s\n", info_.program.c_str(), what);
    }
    EndNow(kExitUnexpected);
}

// Refused before any controller was taken (a command line refused once read, no controller
// found, a trace file that cannot be written): said on stderr, and in JSON closed as a run of
// its kind closes, so that a script never reads an empty stdout.
int Session::NotRun(int code, const std::string& error) {
    return CloseRefusedRun(host_.out(), host_.err(), mode_, kind_, info_, programRow_, code, error,
                           mode_ == ScreenMode::kTerminal ? host_.Columns() : 0);
}

int CloseRefusedRun(std::FILE* out, std::FILE* err, ScreenMode mode, Run::Kind kind,
                    const RunInfo& info, int programRow, int code, const std::string& error,
                    int columns) {
    const bool json = mode == ScreenMode::kJson;
    if (json && kind == Run::Kind::kUpdate) {
        const std::unique_ptr<Screen> screen = Screen::Make(mode, out, err);
        screen->Start(info);
        if (code == kExitPortFailed) {
            // As the one update that finds no controller at its open ends.
            screen->OpenFailed(error, false);
            screen->Final(NotOpened(IsUsbLinked(programRow), {}), kExitPortFailed, 0.0);
            return code;
        }
    }
    const std::string said = info.program + ": " + Shown(error);
    std::fprintf(err, "%s\n", (columns > 0 ? WrapLine(said, columns) : said).c_str());
    if (!json) {
        return code;
    }
    InfoRow row;
    row.openFailure = error;
    row.status = code;
    const std::string line = kind == Run::Kind::kLook
                                 ? InfoJson(row, info.program, programRow)
                                 : RefusedOutcomeJson(nullptr, error, ExitCode(code));
    std::fputs(line.c_str(), out);
    std::fflush(out);
    return code;
}

}  // namespace fwburn::console

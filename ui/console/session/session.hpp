// The console's one session: N targets, each run by a worker of its own, and this thread on the
// terminal, the keyboard, the signals and the figures, as the window thread is on its message
// loop. One controller is the session of one; --info is a session of looks.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ui/console/cli/options.hpp"
#include "ui/console/session/host.hpp"
#include "ui/console/session/question.hpp"
#include "ui/console/session/run.hpp"
#include "ui/console/session/targets.hpp"
#include "ui/console/show/screen.hpp"

namespace fwburn::console {

// A run refused before it took a controller: `error` on `err`, and with --json the record its kind
// closes with on `out` (an update's `start` and `outcome`, where no controller was found as the
// update that finds none at its open; a look's one `info` object). `error` is broken between words
// to `columns` where they are known (a terminal's). Returns `code`.
int CloseRefusedRun(std::FILE* out, std::FILE* err, ScreenMode mode, Run::Kind kind,
                    const RunInfo& info, int programRow, int code, const std::string& error,
                    int columns);

class Session {
  public:
    // `programRow` is the program's model; `info` what its start line says.
    Session(Host& host, const Options& options, const RunInfo& info, ScreenMode mode,
            int programRow, Run::Kind kind);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Runs every target to its end and returns the exit status; a signal ends the process. A
    // choice that refused the run ends it with its status.
    int Run(const TargetChoice& choice);

  private:
    using Clock = Host::Clock;
    double Seconds() const;
    bool several() const { return runs_.size() > 1; }
    bool Lock(console::Run& run);
    void Refuse(console::Run& run, ExitCode code, const UpdateOutcome& outcome,
                const std::string& reason);
    void Handle(console::Run& run, const Request& r);
    void Ended(console::Run& run);
    void Tick();
    void ClearBoard();
    void DrawBoard();
    void CheckTrace(Screen& screen);
    int RunTargets(const TargetChoice& choice);
    int NotRun(int code, const std::string& error);
    [[noreturn]] void Interrupt(const Host::Event& signal);
    [[noreturn]] void Abandon(const char* what);
    bool StopUpdates(const char* cause, int status);
    void CloseEarly(const char* cause, int status);
    void LetPortsGo();
    [[noreturn]] void EndNow(int status);
    void Suspend();
    static double StoppedFor(Clock::duration sinceLastWake);
    void Resumed(double stopped);
    int Finish();
    int Summary();
    int LookResults();
    void EndTrace(Screen* screen);

    Host& host_;
    const Options& options_;
    RunInfo info_;
    ScreenMode mode_;
    int programRow_;
    Run::Kind kind_;
    bool usb_;
    std::vector<std::unique_ptr<console::Run>> runs_;
    std::unique_ptr<HeldLock> linkLock_;  // the USB link's own identity
    std::unique_ptr<HeldLock> awake_;     // the system kept from sleeping while updates run
    std::unique_ptr<Question> question_;
    Clock::time_point start_ = Clock::now();
    int boardLines_ = 0;                  // the board's lines on screen, for a terminal
    std::unique_ptr<QueuedTrace> trace_;  // --trace, of the one controller
    bool traceErrorShown_ = false;
};

}  // namespace fwburn::console

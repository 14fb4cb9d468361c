// Everything the console program prints while an update runs, on the main thread only. The
// people's lines are the same in every form; each renderer adds its own: a status line redrawn in
// place on a terminal, whole lines for a log, or JSON events for automation. Outcomes that are
// errors go to stderr, as do prompts, which a person must see even when stdout goes to a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "burn/operator.hpp"
#include "ui/console/session/outcome.hpp"
#include "ui/console/show/progress.hpp"

namespace fwburn::console {

using Json = nlohmann::ordered_json;

enum class ScreenMode { kTerminal, kPlain, kJson };

struct RunInfo {
    std::string program;
    std::string version;
    std::string model;
    std::string imageName;
    uint32_t imageLength = 0;
    std::string imageSha256;
    bool standIn = false;
    std::string port;  // --port, or empty
    PhaseTotals totals;
    int row = -1;  // the program's model
};

// What a JSON line says of the build (the start event and --version): program, version, model,
// image, imageLength, sha256, standIn and notice.
void AddBuildFields(Json& line, const RunInfo& info);

class Screen {
  public:
    // On a terminal, `columns` tells its width at each redraw, resizes followed (80 when not
    // given). `several`: one of several controllers, whose progress a board shows; its own lines
    // are whole lines, fitted to a terminal's width.
    static std::unique_ptr<Screen> Make(ScreenMode mode, std::FILE* out, std::FILE* err,
                                        std::function<int()> columns = {}, bool several = false);
    // Whole lines for a log, or events for automation (`json`). `columns` empty: nothing is
    // fitted (a log, JSON). `progressLines` false: the phases, their tenths and the retries are
    // left to a line drawn elsewhere (the status line, a board).
    Screen(std::FILE* out, std::FILE* err, std::function<int()> columns, bool json,
           bool progressLines);
    virtual ~Screen();
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // One of several controllers: every line of a person starts with `prefix`, and every JSON
    // event carries `fields` (the port and the controller's identity). The prefix is shown with
    // its control characters escaped (Shown): it names a device.
    void Tag(const std::string& prefix, std::vector<std::pair<std::string, std::string>> fields);
    // Called before each line a person reads: a question shared by several controllers gets off
    // its line first.
    void BeforeEachLine(std::function<void()> hook) { beforeLine_ = std::move(hook); }

    void Start(const RunInfo& info);
    void Opened(const std::string& path, bool reopen);
    void OpenFailed(const std::string& reason, bool reopen);
    void Waiting(int seconds);
    // A reconnect prompt: shown and awaiting Enter (`asking`), or answered by --yes.
    void Prompt(const char* caption, const char* text, bool asking, int accepted);
    // The prompt's event alone: the person's question is asked once for several controllers.
    void PromptEvent(const char* caption, const char* text, bool asking, int accepted);
    // `echoed`: the terminal showed the Enter that ended the answer.
    void PromptAnswered(Answer answer, bool echoed);
    void GaveUp(int accepted);
    // What went wrong, said before the final message where there is more to tell (diagnosis.cpp).
    // `denied` and `openFailure` tell of the update's last open, when it failed.
    // `hungUp`: the device opened last went away under the update.
    void Diagnose(const UpdateOutcome& outcome, bool denied, const std::string& openFailure = {},
                  bool hungUp = false);
    void Final(const UpdateOutcome& outcome, ExitCode code, double elapsed);
    // The update ended at a reconnect step; `announced` when GaveUp() said why already.
    void Cancelled(double elapsed, bool announced);
    // Ended by a signal; `exitCode` is the status the program ends with.
    void Interrupted(const char* signalName, int exitCode, Phase phase, double elapsed);
    // A line of its own on stderr, after the program's name.
    void Note(const std::string& text);
    // A field that every later JSON outcome line carries: what went wrong beside the update.
    void AddOutcomeField(const char* key, const Json& value);

    // The worker's progress events, as they come, and the 100 ms tick. `finished` is the last
    // view of the phase before. A log has a line per tenth of a phase (a log of a 2 MB transfer
    // stays readable), automation an event per percent, with the exact counts.
    virtual void PhaseStarted(const ProgressView& finished, const ProgressView& view,
                              double elapsed);
    void Advanced(const ProgressView& view, double elapsed);
    void Retried(const ProgressView& view, double elapsed);
    virtual void Tick(const ProgressView&) {}
    // Where the worker stopped, shown exactly even between two lines of the usual cadence:
    // before the outcome and an interruption.
    virtual void Settle(const ProgressView& view, double elapsed);
    // Leaves the terminal as it was found: the status line ended, the cursor shown.
    virtual void Restore() {}
    // The process is about to stop for the shell: the cursor shown, the status line drawn anew
    // wherever the shell leaves the cursor once it is continued.
    virtual void Suspend() {}
    // Continued after that stop: a prompt still waiting for Enter says so again, below whatever
    // the shell wrote meanwhile.
    void Resumed();

  protected:
    // An event for automation; `outcome` for the one that ends the run.
    void Event(const Json& event, bool outcome = false);
    // A line that only informs: a person's line (none where it is empty), or the event alone
    // where events are written.
    void Inform(const Json& event, const std::string& line);
    // One of our own lines, fitted to a terminal's width: a long name may be cut in its middle.
    std::string Fit(const std::string& line) { return columns_ ? FitLine(line, Room()) : line; }
    // The window's message text (a prompt, the final message), fitted to a terminal's width
    // without losing a word of it: broken at blanks only.
    std::string Wrap(const std::string& line) { return columns_ ? WrapLine(line, Room()) : line; }
    // The tag as shown: one that would leave less than half of a terminal's width to the text is
    // cut in its middle.
    std::string Prefix() const;
    // The columns left after the prefix.
    int Room() { return columns_() - static_cast<int>(Prefix().size()); }
    // What went wrong names what the person needs whole (a path, a lock file, the udev rule):
    // broken at blanks, never cut.
    void OwnErrorLine(const std::string& text) { ErrorLine(Wrap(text)); }
    // The stream of the people's lines that are no errors: stdout carries JSON only.
    std::FILE* PeopleOut() { return json_ ? err_ : out_; }
    // Ends the status line on a terminal, so that a full line can follow; `keep` leaves it shown.
    virtual void BreakStatusLine(bool /*keep*/ = false) {}
    // A question waits for Enter (or no longer): the status line keeps off its line.
    virtual void Asking(bool) {}
    // The run is over and its ending said: a last line of the form's own.
    virtual void Ended(ExitCode, double /*elapsed*/) {}
    void ErrorLine(const std::string& text);
    void OutLine(const std::string& text);

    std::FILE* out_;
    std::FILE* err_;
    std::function<int()> columns_;
    std::string prefix_;
    std::vector<std::pair<std::string, std::string>> tagFields_;
    std::string program_;
    int row_ = -1;
    PhaseTotals totals_;
    bool asking_ = false;  // a prompt waits for Enter

  private:
    void Progress(const ProgressView& view, double elapsed);

    bool json_;
    bool progressLines_;
    int lastStep_ = -1;  // the tenth, or the percent, last shown
    uint32_t lastDone_ = 0;
    std::unique_ptr<Json> outcomeFields_;  // Json is only declared here
    std::function<void()> beforeLine_;
};

struct Request;
// Shows what `request` tells, when it is a progress event or the final message (this after the
// exact count where the worker stopped), `now` seconds after the start. False for any other.
bool Present(Screen& screen, ProgressTracker& tracker, const Request& request, double now);

std::unique_ptr<Screen> MakeTerminalScreen(std::FILE* out, std::FILE* err,
                                           std::function<int()> columns);

}  // namespace fwburn::console

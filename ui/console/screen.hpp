// Everything the console program prints while an update runs, on the main thread only: a status
// line redrawn in place on a terminal, plain lines for a log, or JSON lines for automation.
// Outcomes that are errors go to stderr, as do prompts, which a person must see even when
// stdout goes to a file.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "burn/operator.hpp"
#include "ui/console/outcome.hpp"
#include "ui/console/progress.hpp"

namespace fwburn::console {

class JsonLine;

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
};

// What a JSON line says of the build (the start event and --version): program, version, model,
// image, imageLength, sha256, standIn and notice.
void AddBuildFields(JsonLine& line, const RunInfo& info);

class Screen {
  public:
    // `columns` is the terminal's width (kTerminal only).
    Screen(ScreenMode mode, std::FILE* out, std::FILE* err, int columns = 80);

    void Start(const RunInfo& info);
    void Opened(const std::string& path, bool reopen);
    void OpenFailed(const std::string& reason, bool reopen);
    // A sample and what it changed, `elapsed` seconds after the start.
    void Progress(const ProgressView& view, const ProgressTracker::Changes& changes,
                  const ProgressView* finished, double elapsed);
    void Waiting(int seconds);
    // A reconnect prompt: shown and awaiting Enter (`asking`), or answered by --yes.
    void Prompt(const char* caption, const char* text, bool asking, int accepted);
    void PromptAnswered(Answer answer);
    void GaveUp(int accepted);
    void Final(const char* caption, const char* text, ExitCode code, double elapsed);
    // The update ended at a reconnect step; `announced` when GaveUp() said why already.
    void Cancelled(double elapsed, bool announced);
    // Ended by a signal; `exitCode` is the status the program ends with.
    void Interrupted(const char* signalName, int exitCode, Phase phase, double elapsed);
    // A line of its own on stderr, after the program's name.
    void Note(const std::string& text);
    // A field that every later JSON outcome line carries: what went wrong beside the update.
    void AddOutcomeField(const char* key, const std::string& value);
    // Leaves the terminal as it was found: the status line ended, the cursor shown.
    void Restore();

  private:
    void Json(const std::string& line);
    // The outcome line with the fields added above.
    std::string OutcomeText(JsonLine& line) const;
    // Ends the status line on a terminal, so that a full line can follow.
    void BreakStatusLine();
    void ErrorLine(const std::string& text);
    void OutLine(const std::string& text);
    void DrawStatus(const ProgressView& view);
    void EndPhaseLine(const ProgressView& view);

    ScreenMode mode_;
    std::FILE* out_;
    std::FILE* err_;
    int columns_;
    std::string program_;
    PhaseTotals totals_;
    std::string status_;  // the status line on screen, empty when none
    bool cursorHidden_ = false;
    bool asking_ = false;  // a prompt waits for Enter: the status line keeps off its line
    int lastPlainDecile_ = -1;
    int lastJsonPercent_ = -1;  // of the phase under way
    std::vector<std::pair<std::string, std::string>> outcomeFields_;
};

}  // namespace fwburn::console

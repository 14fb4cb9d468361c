// Several controllers on one terminal: a line per controller redrawn in place while they run,
// and the summary table at the end.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "ui/console/show/progress.hpp"

namespace fwburn::console {

// One line per controller for the summary table: controller, result, time and message, in
// columns, `columns` wide at most (0: no limit).
struct SummaryRow {
    std::string controller;  // its identity
    int exitCode = 0;
    double elapsed = 0;
    std::string message;
    std::string port;
    bool interrupted = false;  // still under way when the run was ended (JSON only)
};
std::vector<std::string> SummaryTable(const std::vector<SummaryRow>& results, int columns);
// Writes the summary to `out`, the table or one `summary` JSON event, and returns the status of
// the worst outcome; `elapsed` is the whole run's time. `signal`, when given, ended the run
// before its end (a signal's name, or a failure of the system), and `status` is the program's
// status then, which the summary carries and returns.
int ShowSummary(std::FILE* out, const std::vector<SummaryRow>& rows, bool json, int columns,
                double elapsed, const char* signal = nullptr, int status = 0);

// On a terminal of `rows` lines too short for the whole summary table, the line after it: how many
// controllers did not succeed, named with their result as far as `columns` allows, so that a
// failure scrolled out of sight is not taken for a success. Empty where the table fits or every
// controller succeeded.
std::string SummaryTail(const std::vector<SummaryRow>& results, int columns, int rows);

// A controller's line on a terminal, at most `columns - 1` characters: its label, then its status
// line while it runs, or the wait for the replug; once it has ended (`result`, the JSON word, not
// null) the result and where it stopped, the phase and its exact count, which stay on screen as a
// single update's last status line does.
std::string BoardLine(const std::string& label, const ProgressView& view, const char* result,
                      bool waiting, int columns);

// One controller on the board: what BoardLine takes, and whether it ended otherwise than in
// success.
struct BoardEntry {
    std::string label;
    ProgressView view;
    const char* result = nullptr;
    bool waiting = false;
    bool failed = false;
};
// The board's lines, at most `rows - 2` of them (`rows` 0: no limit): a redraw that climbed
// past the terminal's top would leave a copy of the board in its scrollback at every tick, and
// one that climbed to it would clear from there, which a terminal such as tmux takes for a
// clearing of the whole screen and keeps as a copy in its scrollback too.
// Where every controller has a line, they keep their order; where not, the failures come
// first, then those waiting for the replug, those running and those succeeded, and the last
// line counts the controllers left out, so that none goes unaccounted for.
std::vector<std::string> BoardLines(const std::vector<BoardEntry>& entries, int columns, int rows);

}  // namespace fwburn::console

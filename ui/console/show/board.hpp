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

// A controller's line on a terminal, at most `columns - 1` characters: its label, then its status
// line while it runs, or the wait for the replug; once it has ended (`result`, the JSON word, not
// null) the result and where it stopped, the phase and its exact count, which stay on screen as a
// single update's last status line does.
std::string BoardLine(const std::string& label, const ProgressView& view, const char* result,
                      bool waiting, int columns);

}  // namespace fwburn::console

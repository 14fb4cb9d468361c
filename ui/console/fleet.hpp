// Several controllers updated at once by one process: one update object, one worker and one port
// lock each, all on one main loop, one terminal and one keyboard. A failure of one never stops the
// others; the exit status is that of the worst outcome.
#pragma once

#include <string>
#include <vector>

#include "ui/console/options.hpp"
#include "ui/console/progress.hpp"
#include "ui/console/screen.hpp"

namespace fwburn::console {

// One controller of several.
struct FleetTarget {
    std::string port;      // the path given, or the tty found for it at start
    std::string physical;  // its USB socket ("1-1.2"); empty for a serial port or a pty
    std::string serial;    // its USB serial number, empty when it has none

    // What the person and the JSON events know it by: "usb 1-1.2 serial X", or the port.
    std::string Identity() const;
    // The short tag in front of each of its lines: the socket, or the port's short name.
    std::string Label() const;
};

// The status of several updates: 0 when every one succeeded, otherwise the first of these that
// one of them ended with: 7 (erased, the controller needs a new update), 6, 5, 4, 3, 1, then any
// other, then 8 (cancelled: nothing was written).
int WorstExitCode(const std::vector<int>& codes);

// One line per controller for the summary table: controller, result, time and message, in
// columns, `columns` wide at most (0: no limit).
struct FleetResult {
    std::string controller;
    int exitCode = 0;
    double elapsed = 0;
    std::string message;
};
std::vector<std::string> SummaryTable(const std::vector<FleetResult>& results, int columns);

// A controller's line on a terminal, at most `columns - 1` characters: its label, then its status
// line while it runs, or the wait for the replug; once it has ended (`result`, the JSON word, not
// null) the result and where it stopped, the phase and its exact count, which stay on screen as a
// single update's last status line does.
std::string BoardLine(const std::string& label, const ProgressView& view, const char* result,
                      bool waiting, int columns);

// Updates every target at once. `sysRoot` and `devRoot` are where a USB controller is looked for
// again after a replug.
int RunFleet(const Options& options, const RunInfo& info, ScreenMode mode, bool usb,
             const std::vector<FleetTarget>& targets, const std::string& sysRoot,
             const std::string& devRoot);

}  // namespace fwburn::console

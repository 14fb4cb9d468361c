// What --info found, for people (a table) and for automation (one JSON object per port).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "burn/probe.hpp"

namespace fwburn::console {

// What one port gave.
struct InfoRow {
    std::string port;
    bool opened = false;
    std::string openFailure;  // when not opened: the path and the reason, or who holds its lock
    bool denied = false;      // not opened for want of permission
    ProbeReport report;       // when opened
    bool hungUp = false;      // the line went away under the look
    // A look that never ended as looks do: refused before its port (a command line refused,
    // no controller found), or cut short (`signal`: the signal's name, or the failure of the
    // system); `status` is the program's exit status then.
    int status = 0;
    std::string signal;
};

// The exit status of one row: 0 when the controller answered, 4 when the port did not open, 6
// when nothing valid came back; a row's own `status` where it has one.
int InfoExitCode(const InfoRow& row);

// The table for people: a header and one row per port, then one line per port whose controller
// this program's image (for the model of `programRow`) does not fit, saying why. On a terminal
// of `columns` (0: none) that line is broken between words to fit it, and a table wider than the
// terminal gives way to each port on a line of its own with what was read below it.
std::vector<std::string> InfoTable(const std::vector<InfoRow>& rows, int programRow,
                                   int columns = 0);
// One JSON object per port, with this program's `program` name and model.
std::string InfoJson(const InfoRow& row, const std::string& program, int programRow);
// Writes the table, or the JSON objects, to `out`; returns the worst status of the rows.
// `columns`: the terminal's width, 0 when stdout is none.
int ShowInfo(std::FILE* out, const std::vector<InfoRow>& rows, const std::string& program,
             int programRow, bool json, bool standIn, int columns);

}  // namespace fwburn::console

// --info: a look at each controller without changing anything. The port is opened and locked as
// for an update; the probe wakes the controller and asks what it is, never for an update, an
// erase or a block. One table row, or one JSON object, per port.
#pragma once

#include <string>
#include <vector>

#include "burn/probe.hpp"
#include "ui/console/options.hpp"

namespace fwburn::console {

// What one port gave.
struct InfoRow {
    std::string port;
    bool opened = false;
    std::string openFailure;  // when not opened: the path and the reason
    bool denied = false;      // not opened for want of permission
    ProbeReport report;       // when opened
};

// The exit status of one row: 0 when the controller answered, 4 when the port did not open, 6
// when nothing valid came back.
int InfoExitCode(const InfoRow& row);

// The table for people: a header and one row per port, then one line per port whose controller
// this program's image does not fit, saying why.
std::vector<std::string> InfoTable(const std::vector<InfoRow>& rows);
// One JSON object per port, with this program's `program` name and `model`.
std::string InfoJson(const InfoRow& row, const std::string& program, const std::string& model);

// Runs --info for the ports the options name (or the discovered one), all probed at once; `row`
// is the program's model. Returns the worst status of the ports.
int ShowInfo(const char* program, const Options& options, int row);

}  // namespace fwburn::console

// The console events that end an update on Windows, where a Linux program gets a signal, and the
// exit status each one gives. The statuses follow the Linux programs' rule, 128 + the signal
// number, with the number of the C runtime's signal for the event where it has one, so that a
// script that runs on both reads one table:
//   Ctrl+C       130  SIGINT (2), as on Linux
//   Ctrl+Break   149  SIGBREAK (21), the runtime's own signal for Ctrl+Break
//   console close 129 SIGHUP (1) on Linux: the terminal went away; the runtime has none
//   logoff, shutdown 143  SIGTERM (15): the system ends the program
//   broken pipe  141  SIGPIPE (13) on Linux: the reader of stdout or stderr has gone
// Windows' own status for Ctrl+C, STATUS_CONTROL_C_EXIT (0xC000013A), is negative as an
// ERRORLEVEL and tells no event from another.
// No platform header here, so the table is tested on every platform.
#pragma once

namespace fwburn::console {

struct Ending {
    const char* name;  // in "interrupted by <name>" and the outcome's `signal`
    int status;
};

// The ending for a console control event (CTRL_C_EVENT 0, CTRL_BREAK_EVENT 1, CTRL_CLOSE_EVENT 2,
// CTRL_LOGOFF_EVENT 5, CTRL_SHUTDOWN_EVENT 6); another value is taken as a close.
Ending EndingForControlEvent(unsigned long event);

// A write to stdout or stderr whose reader has gone.
Ending BrokenPipeEnding();

// Windows ends the process as soon as the handler of this event returns (close, logoff,
// shutdown): the handler waits for the program's own ending instead.
bool EndsOnReturn(unsigned long event);

}  // namespace fwburn::console

// The console programs' exit statuses: one per kind of ending.
#pragma once

#include <string>
#include <vector>

#include "burn/outcome.hpp"

namespace fwburn::console {

enum ExitCode : int {
    kExitSuccess = 0,
    kExitUnexpected = 1,         // an ending this program does not know, or a local file error
    kExitUsage = 2,              // the command line was wrong
    kExitImageRefused = 3,       // refused before the port was opened: size, missing, corrupted
    kExitPortFailed = 4,         // the port could not be opened
    kExitControllerRefused = 5,  // wrong model or variant, refused bootloader, run mode
    kExitCommFailed = 6,         // no or bad answers before the erase began
    kExitFailedAfterErase = 7,   // the erase began: the controller needs a new update
    kExitCancelled = 8,          // a reconnect prompt or wait was cancelled, or the limit ran out
    kExitInterrupted = 130,      // SIGINT; every ending signal N gives 128 + N (signals.hpp)
};

// The exit status for the way an update ended.
ExitCode ExitCodeFor(OutcomeKind kind);

// One word per status, for the JSON outcome line.
const char* ResultName(ExitCode code);

// The status of several runs: 0 when every one succeeded, otherwise the first of these that
// one of them ended with: 7 (erased, the controller needs a new update), 6, 5, 4, 3, 1, then any
// other, then 8 (cancelled: nothing was written).
int WorstExitCode(const std::vector<int>& codes);

// The message the worker would show for an update refused before it opened its port: the USB
// link's or the port's "CANNOT open" text.
UpdateOutcome NotOpened(bool usb, const std::string& port);

// The system had no thread for the run: nothing was opened.
UpdateOutcome NotStarted(const std::string& why);

// The JSON outcome line of an update refused before it began (a command line refused once read,
// an image or a file refused): `caption` null where no message box would have said it.
std::string RefusedOutcomeJson(const char* caption, const std::string& text, ExitCode code);

}  // namespace fwburn::console

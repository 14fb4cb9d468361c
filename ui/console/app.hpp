// The console program: the command line, the informational options, and one update.
#pragma once

namespace fwburn::console {

// The whole program; `program` is its name as the user types it. Returns the exit status.
int RunConsole(const char* program, int argc, char** argv);

}  // namespace fwburn::console

// The console program: its command line and what each command does.
#pragma once

namespace fwburn::console {

// Runs the console program `program` with its arguments; returns the exit status.
int RunConsole(const char* program, int argc, char** argv);

}  // namespace fwburn::console

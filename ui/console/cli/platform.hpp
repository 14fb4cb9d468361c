// What the console program asks of its operating system outside the session: the host, whether
// stdout is a terminal to redraw on, and the safe replacement of a file. Each system defines
// these once (posix/, win32/), and a program links the one of its system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ui/console/session/host.hpp"

namespace fwburn::console {

// The session's host, made before any other thread starts. Throws what it could not take (the
// events that end a run, the output's threads), with the reason.
std::unique_ptr<Host> MakeHost();

// stdout is a terminal that redraws a line in place and takes colour, and TERM is not "dumb".
bool TerminalOutput();

// The help's words for the statuses of the events that end the program on this system.
const char* EndingStatuses();

// Puts `data` at `file` through a temporary file beside it, so that a reader sees the old file or
// the whole new one; refuses anything but a regular file (or none) at `file`. False with the
// reason in `error`, `file` as it was.
bool ReplaceFileSafely(const std::string& file, const uint8_t* data, size_t length,
                       std::string& error);

// The name `file` is written under, to be said so: Windows drops the dots and spaces that end a
// name ("x.bin." writes x.bin); elsewhere the name as given.
std::string NameWrittenAs(const std::string& file);

}  // namespace fwburn::console

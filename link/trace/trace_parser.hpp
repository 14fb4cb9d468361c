// Reads a link trace back (the format: trace_event.hpp), strictly: a field report that does not
// parse is refused with its line, never half understood.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "link/trace/trace_event.hpp"

namespace fwburn {

// Parses a trace; false with the line number and reason in `error` on a malformed line, the
// events before it in `events`. A last line without its newline was cut short and is malformed.
bool ParseTrace(std::FILE* in, std::vector<TraceEvent>& events, std::string* error);

// One line, without its newline; false with the reason in `error`. A blank or comment line is
// no event: true with `event.kind` empty.
bool ParseTraceLine(const std::string& line, TraceEvent& event, std::string& error);

}  // namespace fwburn

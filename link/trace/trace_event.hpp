// A byte-stream record of an update for field support: every write and read on the link with its
// bytes in hex, every line-setting and time-out change, each input discard, with a monotonic
// timestamp. Nothing but the link's bytes and settings goes into it.
//
// One event per line, each ended by a newline:
//   <ms> tx <request> <hex> [written=<n>] [retry]
//   <ms> rx <request> <hex> want=<n>
//   <ms> get-line [none]
//   <ms> set-line <baud> <bits> <parity N|O|E> <stop 1|1.5|2> dtr=<n> rts=<n> [refused]
//   <ms> timeouts <interval> <read-mult> <read-const> <write-mult> <write-const>
//   <ms> discard [dropped=<n>]      (n: the bytes that were waiting unread, when any)
//   <ms> note <text>              (open and close of the port, by whoever opens it; before a
//                                  close, "stale <n> bytes dropped" if replies came sooner than
//                                  the line could have carried the request)
// <request> names what the bytes are ("mode-query", "ID", "block-17", "EOT", ...); rx carries the
// name of the request it answers. <hex> is "-" for no bytes. A parity or stop-bit value the
// updater never uses is written "?". Lines starting with '#' are comments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/device.hpp"

namespace fwburn {

// One trace event.
struct TraceEvent {
    int64_t ms = 0;
    std::string kind;  // tx, rx, get-line, set-line, timeouts, discard, note
    std::string request;
    std::vector<uint8_t> bytes;
    uint32_t count = 0;   // tx: count written; rx: count asked for; discard: bytes dropped
    bool retry = false;   // tx: the same bytes as the write before
    bool failed = false;  // get-line: none; set-line: refused
    LineSettings line;
    Timeouts timeouts;
    std::string text;  // note

    bool operator==(const TraceEvent& o) const;
    bool operator!=(const TraceEvent& o) const { return !(*this == o); }
};

// The event's line without its newline. A note's control characters become '?', so that one
// event stays one line.
std::string FormatTraceEvent(const TraceEvent& event);

// The bytes as upper-case hex pairs; "-" for none.
std::string ToHex(const uint8_t* data, size_t length);

// A character no trace line holds: it would end the line or hide what follows.
inline bool IsTraceControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

}  // namespace fwburn

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
//   <ms> discard
//   <ms> note <text>              (open and close of the port, by whoever opens it; before a
//                                  close, "stale <n> bytes dropped" if replies came sooner than
//                                  the line could have carried the request)
// <request> names what the bytes are ("mode-query", "ID", "block-17", "EOT", ...); rx carries the
// name of the request it answers. <hex> is "-" for no bytes. A parity or stop-bit value the
// updater never uses is written "?". Lines starting with '#' are comments.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "link/device.hpp"

namespace fwburn {

// The name of a request by its bytes: an application-mode request text, a bootloader word, EOT,
// or a block frame with its number. "unknown" otherwise.
std::string RequestName(const uint8_t* data, uint32_t length);

// One trace event.
struct TraceEvent {
    int64_t ms = 0;
    std::string kind;  // tx, rx, get-line, set-line, timeouts, discard, note
    std::string request;
    std::vector<uint8_t> bytes;
    uint32_t count = 0;   // tx: count written; rx: count asked for
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

class TraceWriter {
  public:
    // `clockMs` gives monotonic milliseconds; lines go to `out` (kept open by the caller).
    TraceWriter(std::FILE* out, std::function<int64_t()> clockMs);
    // Stamps the event with the time since the start and writes it.
    void Write(TraceEvent event);
    void Note(const std::string& text);

    // 0 while every line went out; else the errno of the first write that failed, after which
    // nothing more is written. Any thread may ask while another writes.
    int WriteError() const { return error_.load(std::memory_order_relaxed); }

  private:
    void Put(const std::string& line);

    std::FILE* out_;
    std::function<int64_t()> clockMs_;
    int64_t start_;
    std::atomic<int> error_{0};
};

// Passes every call to `inner` and records it.
class TracingDevice : public Device {
  public:
    TracingDevice(Device& inner, TraceWriter& trace) : inner_(inner), trace_(trace) {}

    uint32_t Write(const uint8_t* data, uint32_t length) override;
    uint32_t Read(uint8_t* buffer, uint32_t length) override;
    bool GetLineSettings(LineSettings& settings) override;
    bool SetLineSettings(const LineSettings& settings) override;
    bool SetTimeouts(const Timeouts& timeouts) override;
    void DiscardInput() override;

  private:
    Device& inner_;
    TraceWriter& trace_;
    std::string lastRequest_ = "none";
    std::vector<uint8_t> lastWrite_;
    bool wrote_ = false;
};

// Parses a trace; false with the line number and reason in `error` on a malformed line, the
// events before it in `events`. A last line without its newline was cut short and is malformed.
bool ParseTrace(std::FILE* in, std::vector<TraceEvent>& events, std::string* error);

// One line, without its newline; false with the reason in `error`. A blank or comment line is
// no event: true with `event.kind` empty.
bool ParseTraceLine(const std::string& line, TraceEvent& event, std::string& error);

std::string ToHex(const uint8_t* data, size_t length);

}  // namespace fwburn

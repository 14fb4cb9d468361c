// A byte-stream record of an update for field support: every write and read on the link with its
// bytes in hex, every line-setting and time-out change, each input discard, with a monotonic
// timestamp. Nothing but the link's bytes and settings goes into it.
//
// One event per line:
//   <ms> tx <request> <hex> [written=<n>] [retry]
//   <ms> rx <request> <hex> want=<n>
//   <ms> get-line | set-line <baud> <bits> <parity N|E|O> <stop 1|1.5|2> dtr=<0|1> rts=<0|1>
//   <ms> timeouts <interval> <read-mult> <read-const> <write-mult> <write-const>
//   <ms> discard
//   <ms> note <text>              (open and close of the port, by whoever opens it)
// <request> names what the bytes are ("mode-query", "ID", "block-17", "EOT", ...); rx carries the
// name of the request it answers.
#pragma once

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

class TraceWriter {
  public:
    // `clockMs` gives monotonic milliseconds; lines go to `out` (kept open by the caller).
    TraceWriter(std::FILE* out, std::function<int64_t()> clockMs);
    void Line(const std::string& text);
    void Note(const std::string& text) { Line("note " + text); }

  private:
    std::FILE* out_;
    std::function<int64_t()> clockMs_;
    int64_t start_;
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
};

// One parsed trace event.
struct TraceEvent {
    int64_t ms = 0;
    std::string kind;  // tx, rx, get-line, set-line, timeouts, discard, note
    std::string request;
    std::vector<uint8_t> bytes;
    uint32_t count = 0;  // tx: count written; rx: count asked for
    LineSettings line;
    Timeouts timeouts;
};

// Parses a trace; false with the line number and reason in `error` on a malformed line.
bool ParseTrace(std::FILE* in, std::vector<TraceEvent>& events, std::string* error);

std::string ToHex(const uint8_t* data, size_t length);

}  // namespace fwburn

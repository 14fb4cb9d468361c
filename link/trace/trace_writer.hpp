// Writes a link trace, one line per event (the format: trace_event.hpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "link/trace/trace_event.hpp"

namespace fwburn {

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

}  // namespace fwburn

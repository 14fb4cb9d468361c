// Writes a link trace, one line per event (the format: trace_event.hpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "link/trace/trace_event.hpp"

namespace fwburn {

// Where the lines of a trace go, one whole line at a time. A front end whose worker must not
// wait for the file (a terminal nobody reads) gives one that queues them.
class TraceSink {
  public:
    virtual ~TraceSink() = default;
    // Takes one line, its '\n' included. 0, or the errno of a failure that ends the trace (it
    // may be a failure of an earlier line, known only now).
    virtual int Put(const std::string& line) = 0;
};

class TraceWriter {
  public:
    // `clockMs` gives monotonic milliseconds; lines go to `out` (kept open by the caller), each
    // written and flushed before Write returns.
    TraceWriter(std::FILE* out, std::function<int64_t()> clockMs);
    // Lines go to `sink` (kept alive by the caller).
    TraceWriter(TraceSink& sink, std::function<int64_t()> clockMs);
    ~TraceWriter();
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    // Stamps the event with the time since the start and writes it.
    void Write(TraceEvent event);
    void Note(const std::string& text);

    // 0 while every line went out; else the errno of the first write that failed, after which
    // nothing more is written. Any thread may ask while another writes.
    int WriteError() const { return error_.load(std::memory_order_relaxed); }

  private:
    void Put(const std::string& line);

    std::unique_ptr<TraceSink> file_;  // the sink of a FILE* given
    TraceSink& sink_;
    std::function<int64_t()> clockMs_;
    int64_t start_;
    std::atomic<int> error_{0};
};

}  // namespace fwburn

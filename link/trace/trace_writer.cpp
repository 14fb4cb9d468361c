#include "link/trace/trace_writer.hpp"

#include <cerrno>
#include <utility>

namespace fwburn {

TraceWriter::TraceWriter(std::FILE* out, std::function<int64_t()> clockMs)
    : out_(out), clockMs_(std::move(clockMs)), start_(clockMs_()) {
    Put("# fwburn link trace 1");
}

void TraceWriter::Put(const std::string& line) {
    if (error_.load(std::memory_order_relaxed) != 0) {
        return;  // a trace with a hole in it would mislead: it ends at the first failure
    }
    errno = 0;
    if (std::fprintf(out_, "%s\n", line.c_str()) < 0 || std::fflush(out_) != 0 ||
        std::ferror(out_) != 0) {
        error_.store(errno != 0 ? errno : EIO, std::memory_order_relaxed);
    }
}

void TraceWriter::Write(TraceEvent event) {
    event.ms = clockMs_() - start_;
    Put(FormatTraceEvent(event));
}

void TraceWriter::Note(const std::string& text) {
    TraceEvent e;
    e.kind = "note";
    e.text = text;
    Write(std::move(e));
}

}  // namespace fwburn

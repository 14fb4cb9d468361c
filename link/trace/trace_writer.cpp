#include "link/trace/trace_writer.hpp"

#include <cerrno>
#include <utility>

namespace fwburn {

namespace {

class FileSink final : public TraceSink {
  public:
    explicit FileSink(std::FILE* out) : out_(out) {}
    int Put(const std::string& line) override {
        errno = 0;
        if (std::fputs(line.c_str(), out_) < 0 || std::fflush(out_) != 0 ||
            std::ferror(out_) != 0) {
            return errno != 0 ? errno : EIO;
        }
        return 0;
    }

  private:
    std::FILE* out_;
};

}  // namespace

TraceWriter::TraceWriter(std::FILE* out, std::function<int64_t()> clockMs)
    : file_(std::make_unique<FileSink>(out)),
      sink_(*file_),
      clockMs_(std::move(clockMs)),
      start_(clockMs_()) {
    Put("# fwburn link trace 1");
}

TraceWriter::TraceWriter(TraceSink& sink, std::function<int64_t()> clockMs)
    : sink_(sink), clockMs_(std::move(clockMs)), start_(clockMs_()) {
    Put("# fwburn link trace 1");
}

TraceWriter::~TraceWriter() = default;

void TraceWriter::Put(const std::string& line) {
    if (error_.load(std::memory_order_relaxed) != 0) {
        return;  // a trace with a hole in it would mislead: it ends at the first failure
    }
    const int error = sink_.Put(line + "\n");
    if (error != 0) {
        error_.store(error, std::memory_order_relaxed);
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

// The --trace file of one update on Windows: opened as cmd's ">" does, its lines written by a
// thread of its own (QueuedHandle) so that a file that does not take them never holds up the
// worker between a block and its answer. As on Linux, lines that could not wait are dropped,
// counted and said, and a write that fails ends the trace.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/trace/trace_writer.hpp"
#include "ui/console/session/host.hpp"
#include "ui/console/win32/output.hpp"

namespace fwburn::console {

class TraceFile final : public LinkTrace {
  public:
    static constexpr std::chrono::milliseconds kStall{300};
    static constexpr std::chrono::milliseconds kEndAtMost{5000};

    TraceFile(const std::string& path, std::function<int64_t()> clockMs);
    ~TraceFile() override;
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    // The errno of an open that failed; 0 when the file is open.
    int OpenError() const { return openError_; }
    TraceWriter* writer() const override { return writer_.get(); }
    int WriteError() const override;
    std::string ErrorNote() const override;
    std::string ErrorReason() const override;
    size_t DroppedAtOutcome() override;
    size_t Finish() override;
    std::string DroppedNote(size_t dropped) const override;

  private:
    class Sink;

    std::string path_;
    int openError_ = 0;
    std::unique_ptr<QueuedHandle> file_;
    std::unique_ptr<Sink> sink_;
    std::unique_ptr<TraceWriter> writer_;
};

}  // namespace fwburn::console

// The --trace file of one update. The worker writes a line per byte exchange, between a block and
// its answer: the lines go to a writer thread of their own (QueuedFile), so that a file that does
// not take them (a terminal or FIFO nobody reads) never holds up the transfer, and a controller
// waiting for its next block is never left to time out. Lines that could not wait are dropped,
// counted and reported; a write that fails ends the trace as before.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/trace/trace_writer.hpp"
#include "ui/console/posix/output_queue.hpp"
#include "ui/console/session/host.hpp"

namespace fwburn::console {

class ConsoleTrace final : public LinkTrace {
  public:
    // A file that has taken no byte for this long while lines wait is given up on (as long as
    // the terminal's last lines get when a signal ends the program).
    static constexpr std::chrono::milliseconds kStall{300};
    // The end waits at most this long for a file that takes its lines slowly.
    static constexpr std::chrono::milliseconds kEndAtMost{5000};

    // Opens `path` as the shell's `>` does (a FIFO waits for its reader there too); an empty
    // path asks for no trace. `clockMs` stamps the lines.
    ConsoleTrace(const std::string& path, std::function<int64_t()> clockMs,
                 size_t maxPending = OutputQueue::kDefaultMaxPending);
    ~ConsoleTrace() override;
    ConsoleTrace(const ConsoleTrace&) = delete;
    ConsoleTrace& operator=(const ConsoleTrace&) = delete;

    // The errno of an open that failed; 0 when the file is open or none was asked for.
    int OpenError() const { return openError_; }
    // What the link records to; null without a trace.
    TraceWriter* writer() const override { return writer_.get(); }

    // 0, or the errno of the write that ended the trace.
    int WriteError() const override;
    // The line that says so on stderr, and the reason the outcome's `traceError` carries.
    std::string ErrorNote() const override;
    std::string ErrorReason() const override;

    // At the outcome, while the worker waits for it to be shown: waits at most kStall for the
    // lines so far; those waiting for a file that took nothing in that time are dropped now. The
    // lines dropped, which the file will miss (a line still being written is not counted: it may
    // get out yet).
    size_t DroppedAtOutcome() override;
    // At the end, once the worker has returned: waits while the file takes the lines, at most
    // kStall without a byte and kEndAtMost in all; the rest is dropped. The lines the file
    // misses, a line still being written counted with them (the program leaves it behind).
    size_t Finish() override;
    // The lines dropped so far.
    size_t Dropped() const { return file_ != nullptr ? file_->Dropped() : 0; }
    // The line on stderr when `dropped` lines were dropped.
    std::string DroppedNote(size_t dropped) const override;

  private:
    std::string path_;
    int openError_ = 0;
    std::unique_ptr<QueuedFile> file_;
    std::unique_ptr<TraceWriter> writer_;
};

}  // namespace fwburn::console

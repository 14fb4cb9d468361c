// The --trace file of one update. The worker writes a line per byte exchange, between a block and
// its answer: the lines go to a writer thread of their own (QueuedFile), so that a file that does
// not take them (a terminal or FIFO nobody reads) never holds up the transfer, and a controller
// waiting for its next block is never left to time out. Lines that could not wait are dropped,
// counted and reported; a write that fails ends the trace. The host opens the file (as its shell's
// `>` does) and supplies its writes and error words; the rest is the same on every system.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/trace/trace_writer.hpp"
#include "ui/console/session/writer_lanes.hpp"

namespace fwburn::console {

// One file written by a thread of its own, for a caller that must never wait for it. Each Post
// is one piece, kept or dropped whole, with the lanes' bound. The first write that fails ends the
// writing.
class QueuedFile final : public TraceSink {
  public:
    using Clock = WriterLanes::Clock;

    // Writes to `file`'s destination 0, which is released once its writer is done with it.
    explicit QueuedFile(std::shared_ptr<Destinations> file,
                        size_t maxPending = WriterLanes::kDefaultMaxPending);
    // Never waits; what is queued is dropped, and a write under way is left to its thread.
    ~QueuedFile() override;
    QueuedFile(const QueuedFile&) = delete;
    QueuedFile& operator=(const QueuedFile&) = delete;

    // Queues `piece`; waits for nothing but the queue's mutex.
    void Post(const std::string& piece) { lanes_->Post(0, 0, piece.data(), piece.size()); }
    // A trace's line, posted: the errno of a write before it, if one failed.
    int Put(const std::string& line) override;

    // Its one lane's, as WriterLanes tells them.
    int Error() const { return lanes_->Error(0); }
    size_t Dropped() const { return lanes_->DroppedPieces(0); }
    bool Stalled(Clock::duration limit) const { return lanes_->Stalled(0, limit); }
    size_t Missing() const { return lanes_->Missing(0); }
    void GiveUp() { lanes_->GiveUp(0); }
    bool DrainUntil(Clock::time_point deadline) { return lanes_->DrainUntil(deadline); }

    // The errno and the system's words for the write that failed.
    int ErrorErrno() const;
    std::string ErrorText() const;

  private:
    std::shared_ptr<Destinations> file_;
    std::shared_ptr<WriterLanes> lanes_;
};

class QueuedTrace final {
  public:
    // A file that has taken no byte for this long while lines wait is given up on (as long as
    // the terminal's last lines get when a signal ends the program).
    static constexpr std::chrono::milliseconds kStall{300};
    // The end waits at most this long for a file that takes its lines slowly.
    static constexpr std::chrono::milliseconds kEndAtMost{5000};

    // The trace written to `file`, opened by the host at `path`; `clockMs` stamps the lines.
    QueuedTrace(const std::string& path, std::shared_ptr<Destinations> file,
                std::function<int64_t()> clockMs,
                size_t maxPending = WriterLanes::kDefaultMaxPending);
    ~QueuedTrace();
    QueuedTrace(const QueuedTrace&) = delete;
    QueuedTrace& operator=(const QueuedTrace&) = delete;

    // What the link records to.
    TraceWriter* writer() const { return writer_.get(); }

    // 0, or the errno of the write that ended the trace.
    int WriteError() const { return file_->ErrorErrno(); }
    // The line that says so on stderr, and the reason the outcome's `traceError` carries.
    std::string ErrorNote() const;
    std::string ErrorReason() const;

    // At the outcome, while the worker waits for it to be shown: waits at most kStall for the
    // lines so far; those waiting for a file that took nothing in that time are dropped now. The
    // lines dropped, which the file will miss (a line still being written is not counted: it may
    // get out yet).
    size_t DroppedAtOutcome();
    // At the end, once the worker has returned: waits while the file takes the lines, at most
    // kStall without a byte and kEndAtMost in all; the rest is dropped. The lines the file
    // misses, a line still being written counted with them (the program leaves it behind).
    size_t Finish();
    // The lines dropped so far.
    size_t Dropped() const { return file_->Dropped(); }
    // The line on stderr when `dropped` lines were dropped.
    std::string DroppedNote(size_t dropped) const;

  private:
    std::string path_;
    std::unique_ptr<QueuedFile> file_;
    std::unique_ptr<TraceWriter> writer_;
};

// A host's refusal of a --trace file that is a serial line or one of the run's ports: the trace
// would go down the line to the device on it, a controller mid-update.
constexpr int kTraceOnALine = -1;

// The trace of `path` on `file` as a host opened it, its lines stamped with the steady clock's
// milliseconds; null when the host could not open it (`file` null).
std::unique_ptr<QueuedTrace> TraceOn(const std::string& path, std::shared_ptr<Destinations> file);

}  // namespace fwburn::console

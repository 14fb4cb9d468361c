// The Linux side of the writer lanes (session/writer_lanes.hpp): writes to descriptors, an
// eventfd that wakes the main loop, and writer threads that start with every signal blocked.
// OutputQueue hands out stdout and stderr as streams whose flushes are queued; stdout and stderr
// have a writer each, so that one that is not read does not hold back the other, unless they are
// one file (a terminal, or 2>&1): then one writer keeps their order. The trace's file is a
// descriptor too (OwnedDescriptor, OpenTraceFile) for the portable QueuedFile.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "ui/console/session/writer_lanes.hpp"

namespace fwburn::console {

class DescriptorWrites;

class OutputQueue {
  public:
    using Clock = std::chrono::steady_clock;

    // Writes what is queued for `out` and `err` (normally 1 and 2) in the order queued.
    OutputQueue(int outFd, int errFd, size_t maxPending = WriterLanes::kDefaultMaxPending);
    // Unqueued output is dropped; a writer still blocked in a write is left to it (it holds the
    // state it needs), so that leaving never waits for the terminal.
    ~OutputQueue();
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    // Streams whose flushes queue their bytes: each flush is one piece, or several when it is
    // longer than the stream's buffer; the lanes keep or drop a line's pieces together.
    std::FILE* out() const { return out_; }
    std::FILE* err() const { return err_; }

    // Readable when the writers have gone idle or one found a pipe without a reader: the main
    // loop polls it. Take() empties it.
    int wakeFd() const;
    void Take();

    // Nothing queued and nothing being written.
    bool Idle() const { return lanes_->Idle(); }
    // A write failed with EPIPE: the reader of stdout or stderr has gone.
    bool BrokenPipe() const { return lanes_->BrokenPipe(); }
    // Bytes dropped so far because the output did not move, or could not be written.
    size_t Dropped() const { return lanes_->DroppedBytes(); }
    // 0, or the errno of the first write to stdout (`to` 0) or stderr (1) that failed, EPIPE aside.
    int WriteError(size_t to) const { return lanes_->FirstError(to); }

    // Flushes both streams and waits until the writers are idle or `deadline` has passed.
    bool DrainUntil(Clock::time_point deadline);

  private:
    std::shared_ptr<DescriptorWrites> writes_;
    std::shared_ptr<WriterLanes> lanes_;
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
};

// The writes to `fd` for a QueuedFile, which takes it: it is closed once its writer is done with
// it. A SIGPIPE or SIGXFSZ its writes raise stays with its thread: the write fails, the process
// is not signalled.
std::shared_ptr<Destinations> OwnedDescriptor(int fd);

// The --trace file at `path`, opened as the shell's `>` does (a FIFO waits for its reader there
// too), or null with the errno of the open in `error`, or kTraceOnALine where `path` is a
// line to a device (the run's own port is refused before: ChooseTargets).
std::shared_ptr<Destinations> OpenTraceFile(const std::string& path, int& error);

}  // namespace fwburn::console

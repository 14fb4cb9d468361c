// The console's output on Windows, written by threads of their own, as on Linux: a console whose
// window is in selection mode (QuickEdit), a pipe nobody reads or a full disk blocks a write for
// as long as that lasts, and the main thread, which takes the console's events and answers the
// workers, must never wait for it. The streams it hands out are pipes; a pump thread moves what
// comes out of each into the writer lanes (session/writer_lanes.hpp), and a writer thread per
// destination writes them out: UTF-16 to a console, the bytes as they are to a file or pipe.
// stdout and stderr share one writer when they are one console, one file or one pipe, which keeps
// their order. The trace's file is a handle for the portable QueuedFile (OwnedHandle,
// OpenTraceFile).
#pragma once

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ui/console/session/writer_lanes.hpp"

namespace fwburn::console {

class HandleWrites;
struct Pump;

class ConsoleOutput {
  public:
    using Clock = std::chrono::steady_clock;
    // Bytes held back at most per writer while the output does not move: beyond it the oldest
    // pieces go (progress nobody could read), so that the newest lines are kept.
    static constexpr size_t kMaxPending = WriterLanes::kDefaultMaxPending;

    ConsoleOutput(HANDLE out, HANDLE err, size_t maxPending = kMaxPending);
    // Flushes the streams and leaves the threads waiting: no thread of this host ends before the
    // process does (under Wine a thread that ends while the process ends gets the process
    // killed). What is not written yet goes with the process.
    ~ConsoleOutput();
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

    // Null when the pipes could not be made.
    std::FILE* out() const { return out_; }
    std::FILE* err() const { return err_; }

    // Set when the writers went idle or one found a pipe without a reader.
    HANDLE wakeEvent() const;
    // Nothing in the pipes, the pumps or the queues, and nothing being written.
    bool Idle() const;
    // A write failed because the reader of the pipe has gone.
    bool BrokenPipe() const;
    // 0, or the Windows error of the first write to stdout (`to` 0) or stderr (1) that failed,
    // a reader gone aside.
    DWORD WriteError(size_t to) const;
    // Flushes both streams and waits until all is written or `deadline` has passed.
    bool DrainUntil(Clock::time_point deadline);

  private:
    std::shared_ptr<HandleWrites> writes_;
    std::shared_ptr<WriterLanes> lanes_;
    std::shared_ptr<Pump> pumps_[2];
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
};

// The writes to `file` for a QueuedFile, which takes it: once its owner has left, it is closed
// unless a write still holds it (then it goes with the process, as the threads do).
std::shared_ptr<Destinations> OwnedHandle(HANDLE file);

// The --trace file at `path`, opened as cmd's `>` does, or null with the errno of the open in
// `error`, or kTraceOnALine where `path` names a comm port.
std::shared_ptr<Destinations> OpenTraceFile(const std::string& path, int& error);

}  // namespace fwburn::console

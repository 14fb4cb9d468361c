// The console's output on Windows, written by threads of their own, as on Linux: a console whose
// window is in selection mode (QuickEdit), a pipe nobody reads or a full disk blocks a write for
// as long as that lasts, and the main thread, which takes the console's events and answers the
// workers, must never wait for it. The streams it hands out are pipes; a pump thread moves what
// comes out of each into a bounded queue in memory, and a writer thread per destination writes
// the queue out: UTF-16 to a console, the bytes as they are to a file or pipe. stdout and stderr
// share one writer when they are one console or one file, which keeps their order.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace fwburn::console {

class Lanes;
struct Pump;

class ConsoleOutput {
  public:
    using Clock = std::chrono::steady_clock;
    // Bytes held back at most per writer while the output does not move: beyond it the oldest
    // pieces go (progress nobody could read), so that the newest lines are kept.
    static constexpr size_t kMaxPending = 256 * 1024;

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
    // Flushes both streams and waits until all is written or `deadline` has passed.
    bool DrainUntil(Clock::time_point deadline);

  private:
    std::shared_ptr<Lanes> lanes_;
    std::shared_ptr<Pump> pumps_[2];
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
};

// One file written by a thread of its own (the link trace, which the worker writes between a
// block and its answer). Each Post is one piece, kept or dropped whole; the first write that
// fails ends the writing, since a file with a hole after an error would mislead.
class QueuedHandle {
  public:
    using Clock = std::chrono::steady_clock;

    // Takes `file`, which is closed once its writer is done with it.
    explicit QueuedHandle(HANDLE file, size_t maxPending = ConsoleOutput::kMaxPending);
    ~QueuedHandle();
    QueuedHandle(const QueuedHandle&) = delete;
    QueuedHandle& operator=(const QueuedHandle&) = delete;

    void Post(const std::string& piece);
    // 0, or the Windows error of the write that failed.
    DWORD Error() const;
    size_t Dropped() const;
    bool Stalled(Clock::duration limit) const;
    size_t Missing() const;
    void GiveUp();
    bool DrainUntil(Clock::time_point deadline);

  private:
    std::shared_ptr<Lanes> lanes_;
    HANDLE file_;
};

}  // namespace fwburn::console

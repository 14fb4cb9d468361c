// The terminal's output, written by threads of their own. A write to a stopped terminal, a pty
// nobody reads or a full pipe blocks for as long as nobody reads; the main thread, which takes the
// signals and answers the worker, must never wait for that. It hands its lines to this queue and
// goes on; the writers wait on the terminal alone. stdout and stderr have a writer each, so that
// one that is not read does not hold back the other, unless they are one file (a terminal, or
// 2>&1): then one writer keeps their order. QueuedFile does the same for one more file (the link
// trace, which the worker writes between a block and its answer).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "link/trace/trace_writer.hpp"

namespace fwburn::console {

class WriterThreads;

class OutputQueue {
  public:
    using Clock = std::chrono::steady_clock;

    // Bytes held back at most per writer while the output does not move: beyond it the oldest
    // whole pieces go (progress that nobody could read), so that the newest lines are kept.
    static constexpr size_t kDefaultMaxPending = 256 * 1024;

    // Writes what is queued for `out` and `err` (normally 1 and 2) in the order queued.
    OutputQueue(int outFd, int errFd, size_t maxPending = kDefaultMaxPending);
    // Unqueued output is dropped; a writer still blocked in a write is left to it (it holds the
    // state it needs), so that leaving never waits for the terminal.
    ~OutputQueue();
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    // Streams whose flushes queue their bytes: each flush is one piece, kept or dropped whole.
    std::FILE* out() const;
    std::FILE* err() const;

    // Readable when the writers have gone idle or one found a pipe without a reader: the main
    // loop polls it. Take() empties it.
    int wakeFd() const;
    void Take();

    // Nothing queued and nothing being written.
    bool Idle() const;
    // A write failed with EPIPE: the reader of stdout or stderr has gone.
    bool BrokenPipe() const;
    // Bytes dropped so far because the output did not move, or could not be written.
    size_t Dropped() const;

    // Flushes both streams and waits until the writers are idle or `deadline` has passed.
    bool DrainUntil(Clock::time_point deadline);

  private:
    std::shared_ptr<WriterThreads> writers_;
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
};

// One file written by a thread of its own, for a caller that must never wait for it. Each Post
// is one piece, kept or dropped whole, with the same bound as OutputQueue's. The first write that
// fails ends the writing: a file with a hole after an error would mislead. A SIGPIPE or SIGXFSZ
// its writes raise stays with its thread: the write fails, the process is not signalled.
class QueuedFile final : public TraceSink {
  public:
    using Clock = std::chrono::steady_clock;

    // Takes `fd`, which is closed once its writer is done with it.
    explicit QueuedFile(int fd, size_t maxPending = OutputQueue::kDefaultMaxPending);
    // Never waits; what is queued is dropped, and a write under way is left to its thread.
    ~QueuedFile() override;
    QueuedFile(const QueuedFile&) = delete;
    QueuedFile& operator=(const QueuedFile&) = delete;

    // Queues `piece`; waits for nothing but the queue's mutex.
    void Post(const std::string& piece);
    // A trace's line, posted: the error of a write before it, if one failed.
    int Put(const std::string& line) override {
        Post(line);
        return Error();
    }

    // 0, or the errno of the write that failed; nothing is written after it.
    int Error() const;
    // Pieces dropped: beyond the bound, or given up on. Those after an error are not counted:
    // the error says the file ends there.
    size_t Dropped() const;
    // Pieces wait, and the file has taken no byte of them for `limit`.
    bool Stalled(Clock::duration limit) const;
    // Pieces dropped, waiting or being written: what the file misses if the writer stops now.
    size_t Missing() const;
    // Drops what waits, counted; a piece being written is left to its write.
    void GiveUp();
    // Waits until nothing waits or `deadline` has passed.
    bool DrainUntil(Clock::time_point deadline);

  private:
    std::shared_ptr<WriterThreads> writers_;
};

}  // namespace fwburn::console

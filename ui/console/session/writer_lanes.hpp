// Output written by threads of their own, for callers that must never wait for it: the main
// loop, which takes the signals or the console's events and answers the workers, and the worker,
// which writes the trace between a block and its answer. A write to a stopped terminal, a pipe
// nobody reads or a full disk blocks for as long as that lasts; here only a writer waits for it.
// Pieces are queued per lane and one thread per lane writes them in order. While the output does
// not move, what waits is bounded: beyond it the oldest whole lines go (progress nobody could
// read), so that the newest are kept. A piece may hold part of a line only (a stream's buffer
// filled, a pipe read in the middle of a line): the lanes keep or drop a line's pieces together,
// so that a reader never gets the end of a line without its start, nor a start left open before
// another line. The system (posix/, win32/) supplies the writes themselves, the wake of its main
// loop, and how its threads start and end.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fwburn::console {

// Where the lanes' pieces go, each destination by its number, and what the system does for them.
// Error codes are the system's own (errno, a Windows error), 0 for none.
class Destinations {
  public:
    using Moved = std::function<void()>;

    virtual ~Destinations() = default;

    // On lane `lane`'s thread: writes all of `bytes` to destination `to`, calling `moved` each
    // time some of them went out. 0, or the code of the write that failed, with `left` set to
    // the bytes that did not go out.
    virtual int Write(size_t lane, size_t to, const std::string& bytes, size_t& left,
                      const Moved& moved) = 0;
    // The code of a write to a pipe whose reader has gone.
    virtual bool ReaderGone(int code) const = 0;
    // Tells the main loop that the lanes went idle or a reader has gone.
    virtual void Wake() {}
    // Starts `run` on a detached thread of its own.
    virtual void StartThread(std::function<void()> run);
    // True: the threads end once their owner leaves, and the destinations are released with the
    // last of them. False: they wait on for the process's end (under Wine a thread that ends
    // while the process ends gets the process killed), and Release() is called when the owner
    // leaves while no write holds a destination.
    virtual bool ThreadsEnd() const = 0;
    virtual void Release() {}
    // The errno the program's words and JSON use for `code`, and the system's text for it.
    virtual int Errno(int code) const = 0;
    virtual std::string Reason(int code) const = 0;
};

// The lanes and their threads. Each thread holds the lanes alive: one left blocked in a write
// still has all it needs once its owner has gone.
class WriterLanes {
  public:
    using Clock = std::chrono::steady_clock;

    // Bytes held back at most per lane while its output does not move.
    static constexpr size_t kDefaultMaxPending = 256 * 1024;

    struct Options {
        size_t lanes = 1;
        size_t maxPending = kDefaultMaxPending;
        // The first failed write ends the lane: a file with a hole after an error would mislead.
        bool endAtError = false;
    };

    WriterLanes(std::shared_ptr<Destinations> destinations, const Options& options);
    WriterLanes(const WriterLanes&) = delete;
    WriterLanes& operator=(const WriterLanes&) = delete;

    // A thread per lane, from here on.
    static void Start(const std::shared_ptr<WriterLanes>& self);

    // Queues a piece for destination `to` on `lane`; waits for nothing but the lanes' mutex. A
    // piece that does not end with a newline leaves its line open: the next piece on the lane
    // continues it, and is kept or dropped with it. A piece that begins with a carriage return
    // redraws its line from the start (a terminal's status line): the update before it may go
    // without it, never the line's end without the update it ends. A piece that begins by moving
    // the cursor up (a board's redraw) never goes without what it climbs back over, and the last
    // redraw of a board stays. An empty piece is not queued.
    void Post(size_t lane, size_t to, const char* data, size_t size);

    // Nothing queued and nothing being written.
    bool Idle() const;
    // Waits until the lanes are idle or `deadline` has passed.
    bool DrainUntil(Clock::time_point deadline);
    // A write found a pipe without a reader.
    bool BrokenPipe() const { return brokenPipe_; }
    // Bytes dropped: beyond the bound, given up on, or not written by a write that failed, with
    // the rest of the line that write left open.
    size_t DroppedBytes() const { return droppedBytes_; }

    // 0, or the code of the write that ended `lane` (with endAtError).
    int Error(size_t lane) const;
    // 0, or the code of the first write to destination `to` that failed, a reader gone aside.
    int FirstError(size_t to) const;
    // Pieces dropped from `lane`: beyond the bound, given up on, or the rest of a line given up
    // on or cut by a failed write. Those after an error that ends the lane are not counted: the
    // error says the output ends there.
    size_t DroppedPieces(size_t lane) const;
    // Pieces dropped, waiting or being written: what the output misses if the writer stops now.
    size_t Missing(size_t lane) const;
    // Pieces wait on `lane`, and not one byte of them has gone out for `limit`.
    bool Stalled(size_t lane, Clock::duration limit) const;
    // Drops what waits on `lane`, counted, and the rest of a line it leaves open; a piece being
    // written is left to its write.
    void GiveUp(size_t lane);

    // The owner leaves: nothing more is taken and what waits is dropped; never waits for a
    // write (Destinations::ThreadsEnd says what becomes of the threads).
    void Leave();

  private:
    struct Piece {
        size_t to;
        std::string bytes;
        // Begins a line, or what is left of one whose earlier pieces were dropped.
        bool startsLine;
        // Begins with a carriage return: an update of its line that a later one may replace.
        bool redraws;
        // Begins by moving the cursor up, over what the pieces before it wrote: by how many lines
        // (0: it does not).
        size_t climbsBack;
    };
    struct Lane {
        std::deque<Piece> queue;
        size_t pending = 0;
        bool writing = false;
        Clock::time_point movedAt{};  // since then work waited and no byte went out
        int error = 0;
        size_t droppedPieces = 0;
        bool open = false;    // the last piece posted did not end its line
        bool cutOff = false;  // and that line lost pieces: the rest of it goes too
    };

    static bool Busy(const Lane& lane) { return !lane.queue.empty() || lane.writing; }
    static size_t ClimbsBack(const char* data, size_t size);
    bool IdleLocked() const;
    void DropFront(Lane& lane);
    void DropBeyondBound(Lane& lane);
    void DropRestOfLine(Lane& lane);
    void CountDropped(Lane& lane, size_t bytes);
    void Run(size_t index);

    const std::shared_ptr<Destinations> destinations_;
    const size_t maxPending_;
    const bool endAtError_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;  // a piece came, a lane went idle, or the owner left
    std::vector<Lane> lanes_;          // never resized: each thread holds its own
    std::vector<int> firstErrors_;     // by destination, grown as writes to them fail
    bool left_ = false;
    std::atomic<bool> brokenPipe_{false};
    std::atomic<size_t> droppedBytes_{0};
};

}  // namespace fwburn::console

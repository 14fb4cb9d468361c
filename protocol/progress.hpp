// How far one update has got: the figures the window's status panel paints every 100 ms (read
// from another thread), and the events a front end follows to show exact counts.
#pragma once

#include <atomic>
#include <cstdint>

namespace fwburn {

// The values of flashStatus.
enum class Phase : int32_t { Checking = 0, Erasing = 1, Programming = 2 };

// A figure one thread writes and another reads: whole-value relaxed loads and stores (a painter
// may show a value one tick old, never a torn one).
template <typename T>
class Figure {
  public:
    constexpr explicit Figure(T initial = T{}) : value_(initial) {}
    Figure(const Figure&) = delete;
    Figure& operator=(const Figure&) = delete;

    T load() const { return value_.load(std::memory_order_relaxed); }
    operator T() const { return load(); }
    Figure& operator=(T v) {
        value_.store(v, std::memory_order_relaxed);
        return *this;
    }
    Figure& operator+=(T v) {
        value_.fetch_add(v, std::memory_order_relaxed);
        return *this;
    }

  private:
    std::atomic<T> value_;
};

// One update's figures. The names are the panel's: flashStatus is the phase, progress its
// percentage, errCounter the failures of the exchange under way, totalErrCounter all of them.
struct Figures {
    Figure<int32_t> flashStatus{0};
    Figure<int32_t> progress{0};
    Figure<int32_t> errCounter{0};
    Figure<int32_t> totalErrCounter{0};
    Figure<int32_t> elapsedTime{0};  // whole seconds, counted by the front end's timer
    Figure<uint32_t> done{0};        // erase steps or blocks acknowledged in this phase
    Figure<uint32_t> total{0};       // erase steps or blocks of this phase; 0 while checking
    // Bytes beyond the one reply each request takes, seen during the image transfer: dropped
    // unread before a write, or caught after the last block's acknowledgement.
    Figure<uint32_t> surplusBytes{0};
};

// What a front end is told as it happens, on the update's own thread.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    // A phase begins with `total` steps (erase steps, blocks; 0 for the checks).
    virtual void PhaseStarted(Phase phase, uint32_t total) = 0;
    // `done` of `total` steps acknowledged; `percent` is what the panel shows for it.
    virtual void Advanced(Phase phase, uint32_t done, uint32_t total, int32_t percent) = 0;
    // An attempt failed: the counters after it.
    virtual void Retried(Phase phase, int32_t errCounter, int32_t totalErrCounter) = 0;
};

// The figures of an update and its sink, moved together by the commands.
class Progress {
  public:
    explicit Progress(Figures& figures, ProgressSink* sink = nullptr)
        : figures_(figures), sink_(sink) {}

    Figures& figures() { return figures_; }
    const Figures& figures() const { return figures_; }
    Phase phase() const { return static_cast<Phase>(figures_.flashStatus.load()); }

    void BeginPhase(Phase phase, uint32_t total);
    void Advance(uint32_t done, int32_t percent);
    // errCounter shows the retry number of the attempt under way.
    void ShowAttempt(int32_t failuresSoFar) { figures_.errCounter = failuresSoFar; }
    // An attempt failed: errCounter becomes `failures`, totalErrCounter counts one more.
    void Failed(int32_t failures);
    void ClearErrCounter() { figures_.errCounter = 0; }
    void Surplus(uint32_t bytes) { figures_.surplusBytes += bytes; }
    // The end of an update: every figure back to 0.
    void Reset();

  private:
    Figures& figures_;
    ProgressSink* sink_;
};

}  // namespace fwburn

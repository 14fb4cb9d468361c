// The process-wide state that the window thread and the burn worker share: the selection, the
// device and image of the running update, and the figures the status panel paints.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace fwburn {

// A figure shared between threads: single whole-value loads and stores, relaxed ordering (the
// painter may show a value one tick old, never a torn one).
template <typename T>
class Relaxed {
  public:
    constexpr explicit Relaxed(T initial) : value_(initial) {}
    Relaxed(const Relaxed&) = delete;
    Relaxed& operator=(const Relaxed&) = delete;

    T load() const { return value_.load(std::memory_order_relaxed); }
    operator T() const { return load(); }
    Relaxed& operator=(T v) {
        value_.store(v, std::memory_order_relaxed);
        return *this;
    }
    Relaxed& operator+=(T v) {
        value_.fetch_add(v, std::memory_order_relaxed);
        return *this;
    }

  private:
    std::atomic<T> value_;
};

// A port or model name of at most 9 characters, copied whole under a small mutex so that a reopen
// never reads a name the window is halfway through replacing.
class ShortText {
  public:
    static constexpr int kSize = 10;
    // Copies at most 9 characters of `text`; the stored text is always zero-terminated.
    void Set(const char* text);
    // Copies the whole 10-byte field into `out`.
    void CopyTo(char (&out)[kSize]) const;
    void Clear() { Set(""); }

  private:
    mutable std::mutex mutex_;
    char text_[kSize] = {};
};

// Handles of the window the worker reports to; opaque to the portable core.
struct ParamStruct {
    void* mainWindow = nullptr;
    void* startButton = nullptr;
};

// Selection: written by the window, read by the worker and the commands.
extern ShortText selectedPLC;
extern Relaxed<int32_t> selectedPLCIdx;
extern Relaxed<uint16_t> selectedPLCID;
extern ShortText selectedComPort;
extern int32_t ComSelidx;     // window thread only
extern int32_t totalComPort;  // window thread only

// Image of the running update (worker thread). The device handle, hSerial, lives with the link.
extern const void* hGLOBAL;
extern const uint8_t* fin;  // next byte of the image to send
// The image the running update sends, captured once when the update starts. The erase and the
// transfer count with its length, and no read goes past its end; a file picked with Browse
// (which writes fileLength) changes nothing of it.
struct JobImage {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
};
extern JobImage jobImage;
extern Relaxed<uint32_t> fileLength;  // the Browse command writes it too
extern uint8_t ZL_fu_version;
extern ParamStruct paramStruct;

// Progress figures: written by the worker's side, painted by the window every 100 ms.
extern Relaxed<int32_t> flashStatus;
extern Relaxed<int32_t> progress;
extern Relaxed<int32_t> errCounter;
extern Relaxed<int32_t> totalErrCounter;
extern Relaxed<int32_t> elapsedTime;

// One burn worker at a time, whatever the button's state says.
bool TryClaimWorker();
void ReleaseWorker();
bool WorkerRunning();

// Selects a catalogue row: sets selectedPLCIdx and selectedPLCID together; false for a row outside
// the catalogue (nothing changes then).
bool SelectModelRow(int row);

// Puts every variable back to its program-start value (tests, and nothing else, need this).
void ResetJobState();

}  // namespace fwburn

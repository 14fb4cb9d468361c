// The window's request that its burn worker end at once (the operator closes the window during an
// update): a flag the worker's link checks before every call, and an event its waits end on.
#pragma once

#include <windows.h>

#include <atomic>

namespace fwburn {

class StopSignal {
  public:
    StopSignal() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~StopSignal() {
        if (event_ != nullptr) {
            CloseHandle(event_);
        }
    }
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void Request() {
        requested_.store(true, std::memory_order_release);
        if (event_ != nullptr) {
            SetEvent(event_);
        }
    }
    bool Requested() const { return requested_.load(std::memory_order_acquire); }
    const std::atomic<bool>& flag() const { return requested_; }

    // Waits up to `milliseconds`; true when a stop was requested meanwhile (or before).
    bool Wait(DWORD milliseconds) const {
        if (event_ == nullptr) {
            Sleep(milliseconds);
            return Requested();
        }
        return WaitForSingleObject(event_, milliseconds) == WAIT_OBJECT_0 || Requested();
    }

  private:
    std::atomic<bool> requested_{false};
    HANDLE event_;
};

}  // namespace fwburn

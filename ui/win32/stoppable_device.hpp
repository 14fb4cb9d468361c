// The window's link to the controller while the operator may close the window: once a stop is
// asked for, every call fails at once, so the burn worker runs to its end in moments and closes
// the port itself instead of being killed with it open.
#pragma once

#include <atomic>

#include "link/device.hpp"

namespace fwburn {

class StoppableDevice final : public Device {
  public:
    StoppableDevice(Device& inner, const std::atomic<bool>& stop) : inner_(inner), stop_(stop) {}

    uint32_t Write(const uint8_t* data, uint32_t length) override;
    uint32_t Read(uint8_t* buffer, uint32_t length) override;
    bool GetLineSettings(LineSettings& settings) override;
    bool SetLineSettings(const LineSettings& settings) override;
    bool SetTimeouts(const Timeouts& timeouts) override;
    uint32_t DiscardInput() override;
    uint32_t ReadLatencyMs() const override { return inner_.ReadLatencyMs(); }

  private:
    bool Stopped() const { return stop_.load(std::memory_order_acquire); }

    Device& inner_;
    const std::atomic<bool>& stop_;
};

}  // namespace fwburn

// A device that takes every write whole and answers it with one ACK at once: the controller at
// its fastest, for measuring the host's own work.
#pragma once

#include "link/device.hpp"

namespace fwburn::test {

class AckDevice : public Device {
  public:
    uint32_t Write(const uint8_t*, uint32_t length) override {
        answered_ = false;
        return length;
    }
    uint32_t Read(uint8_t* buffer, uint32_t length) override {
        if (answered_ || length != 1) {
            return 0;
        }
        answered_ = true;
        buffer[0] = 0x06;
        return 1;
    }
    bool GetLineSettings(LineSettings&) override { return false; }
    bool SetLineSettings(const LineSettings&) override { return false; }
    bool SetTimeouts(const Timeouts&) override { return true; }
    uint32_t DiscardInput() override { return 0; }
    uint32_t ReadLatencyMs() const override { return 0; }

  private:
    bool answered_ = false;
};

}  // namespace fwburn::test

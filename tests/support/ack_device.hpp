// A device that takes every write whole and answers every one-byte read with ACK at once: the
// controller at its fastest, for measuring the host's own work.
#pragma once

#include "link/device.hpp"

namespace fwburn::test {

class AckDevice : public Device {
  public:
    uint32_t Write(const uint8_t*, uint32_t length) override { return length; }
    uint32_t Read(uint8_t* buffer, uint32_t length) override {
        buffer[0] = 0x06;
        return length == 1 ? 1 : 0;
    }
    bool GetLineSettings(LineSettings&) override { return false; }
    bool SetLineSettings(const LineSettings&) override { return false; }
    bool SetTimeouts(const Timeouts&) override { return true; }
    void DiscardInput() override {}
};

}  // namespace fwburn::test

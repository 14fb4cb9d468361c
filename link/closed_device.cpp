#include "link/device.hpp"

namespace fwburn {

namespace {

class Closed final : public Device {
  public:
    uint32_t Write(const uint8_t*, uint32_t) override { return 0; }
    uint32_t Read(uint8_t*, uint32_t) override { return 0; }
    bool GetLineSettings(LineSettings&) override { return false; }
    bool SetLineSettings(const LineSettings&) override { return false; }
    bool SetTimeouts(const Timeouts&) override { return false; }
    uint32_t DiscardInput() override { return 0; }
    uint32_t ReadLatencyMs() const override { return 0; }
};

}  // namespace

Device& ClosedDevice() {
    static Closed closed;
    return closed;
}

}  // namespace fwburn

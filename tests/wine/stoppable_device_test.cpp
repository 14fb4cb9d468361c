// The window's link after the operator chose to close during an update: every call fails at
// once and none reaches the port; before that, every call goes through unchanged.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "ui/win32/stoppable_device.hpp"

namespace fwburn {
namespace {

class CountingDevice final : public Device {
  public:
    std::vector<std::string> calls;

    uint32_t Write(const uint8_t*, uint32_t length) override {
        calls.push_back("write");
        return length;
    }
    uint32_t Read(uint8_t*, uint32_t length) override {
        calls.push_back("read");
        return length;
    }
    bool GetLineSettings(LineSettings&) override {
        calls.push_back("get settings");
        return true;
    }
    bool SetLineSettings(const LineSettings&) override {
        calls.push_back("set settings");
        return true;
    }
    bool SetTimeouts(const Timeouts&) override {
        calls.push_back("set time-outs");
        return true;
    }
    uint32_t DiscardInput() override {
        calls.push_back("discard");
        return 0;
    }
    uint32_t ReadLatencyMs() const override { return 0; }
};

// Every call of the seam once; how many succeeded.
int UseEveryCall(Device& d) {
    uint8_t bytes[4] = {1, 2, 3, 4};
    LineSettings settings;
    int ok = 0;
    ok += d.Write(bytes, 4) == 4;
    ok += d.Read(bytes, 4) == 4;
    ok += d.GetLineSettings(settings);
    ok += d.SetLineSettings(settings);
    ok += d.SetTimeouts(Timeouts{});
    d.DiscardInput();
    return ok;
}

TEST(StoppableDevice, PassesEverythingUntilStoppedThenNothing) {
    CountingDevice port;
    std::atomic<bool> stop{false};
    StoppableDevice link(port, stop);

    EXPECT_EQ(UseEveryCall(link), 5);
    EXPECT_EQ(port.calls, (std::vector<std::string>{"write", "read", "get settings", "set settings",
                                                    "set time-outs", "discard"}));

    stop = true;
    port.calls.clear();
    EXPECT_EQ(UseEveryCall(link), 0);
    EXPECT_TRUE(port.calls.empty());
}

}  // namespace
}  // namespace fwburn

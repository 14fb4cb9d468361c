// Time and handle semantics of the in-process link.
#include <gtest/gtest.h>

#include <string>

#include "tests/sim/sim_test_support.hpp"

namespace fwburn::sim {
namespace {

using test::Bench;
using test::MakeConfig;

const char* const kModeRequest = ":006401590141\r\n";

TEST(SimLinkTime, AReadWaitsForItsBytesOrSpendsItsWholeTimeout) {
    Bench b(MakeConfig("MN6", 4096));
    EXPECT_EQ(b.Ask(kModeRequest, 19).size(), 19u);
    EXPECT_EQ(b.link.NowMs(), 5);  // the controller's turn-around
    EXPECT_EQ(b.Read(1), "");
    EXPECT_EQ(b.link.NowMs(), 3005);
    b.link.SetTimeouts({kMaxDword, 10, 100, 0, 0});
    EXPECT_EQ(b.Read(5), "");
    EXPECT_EQ(b.link.NowMs(), 3005 + 150);
    b.link.SetTimeouts({kMaxDword, 0, 0, 0, 0});
    EXPECT_EQ(b.Read(5), "");
    EXPECT_EQ(b.link.NowMs(), 3155);
    b.link.AdvanceMs(45);
    EXPECT_EQ(b.link.NowMs(), 3200);
}

TEST(SimLinkTime, DiscardDropsOnlyWhatHasArrived) {
    ReplyFault late{Phase::kModeQuery, FaultKind::kLate};
    late.delayMs = 100;
    Bench b(MakeConfig("MN6", 4096, {{late}}));
    b.Send(kModeRequest);
    b.link.DiscardInput();
    EXPECT_EQ(b.link.pendingBytes(), 19u);
    b.link.AdvanceMs(104);
    b.link.DiscardInput();
    EXPECT_EQ(b.link.pendingBytes(), 19u);
    b.link.AdvanceMs(1);
    b.link.DiscardInput();
    EXPECT_EQ(b.link.pendingBytes(), 0u);
}

TEST(SimLinkTime, WireSpeedSpendsByteTimesAtTheCurrentSettings) {
    Bench b(MakeConfig("MN6", 4096), {true});
    b.Send(kModeRequest);  // 15 bytes of 10 bits at 9600 baud: 15.6 ms
    EXPECT_EQ(b.link.NowMs(), 16);
    EXPECT_EQ(b.Read(19).size(), 19u);  // 5 ms turn-around, then 19.8 ms on the line
    EXPECT_EQ(b.link.NowMs(), 16 + 5 + 20);
    b.link.SetLineSettings(test::kTransferLine);
    const std::string block(261, '\x02');
    const int64_t t = b.link.NowMs();
    b.Send(block);  // 22.7 ms at 115200 baud
    EXPECT_EQ(b.link.NowMs(), t + 23);

    Bench usb(MakeConfig("HU", 4096), {true});
    usb.Ask(":006401590141\r\n", 19);
    EXPECT_EQ(usb.link.NowMs(), 5);
}

TEST(SimLinkHandle, ClosedOrUnpluggedHandlesFailAtOnce) {
    Bench b(MakeConfig("MN6", 4096));
    LineSettings line;
    b.link.Close();
    EXPECT_EQ(b.Send(kModeRequest), 0u);
    EXPECT_EQ(b.Read(19), "");
    EXPECT_EQ(b.link.NowMs(), 0);
    EXPECT_FALSE(b.link.GetLineSettings(line));
    EXPECT_FALSE(b.link.SetLineSettings(test::kTransferLine));
    EXPECT_FALSE(b.link.SetTimeouts(test::kCommandTimeouts));
    ASSERT_TRUE(b.link.Open());
    EXPECT_FALSE(b.link.Open());  // exclusive
    EXPECT_TRUE(b.link.GetLineSettings(line));
    EXPECT_EQ(line, test::kAppLine);                // a port keeps its settings across handles
    EXPECT_EQ(b.Ask(kModeRequest, 19).size(), 0u);  // but a new handle has no time-outs yet
    EXPECT_EQ(b.link.NowMs(), 0);

    Bench usb(MakeConfig("HU", 4096));
    EXPECT_FALSE(usb.link.GetLineSettings(line));
    EXPECT_FALSE(usb.link.SetLineSettings(test::kTransferLine));
    EXPECT_EQ(usb.link.line(), LinkOptions{}.initialLine);
    EXPECT_EQ(usb.Read(1), "");
    EXPECT_EQ(usb.link.NowMs(), 3000);  // time-outs apply to USB handles too
    usb.link.Replug();
    EXPECT_EQ(usb.Send(kModeRequest), 0u);  // the device went away under the open handle
    usb.link.Close();
    ASSERT_TRUE(usb.link.Open());
    usb.link.SetTimeouts(test::kCommandTimeouts);
    EXPECT_EQ(usb.Ask(kModeRequest, 19).size(), 19u);
}

TEST(SimLinkHandle, PowerCycleKeepsASerialHandleAndDropsUnsentReplies) {
    ReplyFault late{Phase::kModeQuery, FaultKind::kLate};
    Bench b(MakeConfig("MN6", 4096, {{late}}));
    b.Send(kModeRequest);
    b.link.PowerCycle();
    EXPECT_EQ(b.link.pendingBytes(), 0u);
    EXPECT_EQ(b.Ask(kModeRequest, 19), "");
    EXPECT_EQ(b.controller.requests(Phase::kModeQuery), 2u);
}

}  // namespace
}  // namespace fwburn::sim

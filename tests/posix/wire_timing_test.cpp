// The stale-reply rule on a line with a baud rate: the bound itself, and a device that drops what
// arrives before its request could have crossed the line.
#include "link/posix/wire_timing.hpp"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "link/posix/posix_device.hpp"
#include "tests/posix/fake_sysfs.hpp"
#include "tests/posix/pty.hpp"

namespace fwburn::posix::test {
namespace {

using Clock = WireClock::Clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

termios Line(speed_t speed, tcflag_t cflag) {
    termios t{};
    t.c_cflag = cflag;
    cfsetospeed(&t, speed);
    cfsetispeed(&t, speed);
    return t;
}

TEST(WireClock, WireTimeCountsEveryBitOfEveryByteLessTheMargin) {
    struct Case {
        const char* what;
        termios line;
        uint32_t bytes;
        int64_t us;
    };
    const Case cases[] = {
        // 261 * 10 bits at 115200 = 22656 us; 95 % of it.
        {"a block at 115200 8N1", Line(B115200, CS8), 261, 21523},
        {"a request at 9600 7E1", Line(B9600, CS7 | PARENB), 19, 18802},
        {"two stop bits", Line(B9600, CS8 | CSTOPB), 10, 10885},
        {"odd parity, 8 bits", Line(B9600, CS8 | PARENB | PARODD), 10, 10885},
        {"no baud rate", Line(B0, CS8), 261, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WireClock w;
        w.SetLine(c.line);
        EXPECT_EQ(std::chrono::duration_cast<microseconds>(w.WireTime(c.bytes)).count(), c.us);
    }
}

TEST(WireClock, BytesQueueBehindTheOnesStillOnTheLine) {
    WireClock w;
    w.SetLine(Line(B9600, CS8));  // 989.58 us per byte with the margin
    const Clock::time_point t0 = Clock::now();
    w.Wrote(t0, 100);
    const Clock::time_point first = w.EarliestReply();
    EXPECT_EQ(first - t0, w.WireTime(100));
    // Written while the first hundred are still going out: they follow them.
    w.Wrote(t0 + milliseconds(10), 10);
    EXPECT_EQ(w.EarliestReply(), first + w.WireTime(10));
    // Written after the line went quiet: counted from their own start.
    const Clock::time_point later = first + milliseconds(500);
    w.Wrote(later, 1);
    EXPECT_EQ(w.EarliestReply(), later + w.WireTime(1));
    // A line without a baud rate bounds nothing.
    w.SetLine(Line(B0, CS8));
    w.Wrote(later, 100);
    EXPECT_LE(w.EarliestReply(), Clock::now());
}

TEST(WireTiming, Override) {
    EXPECT_EQ(WireTimingOverride(nullptr), std::nullopt);
    EXPECT_EQ(WireTimingOverride("on"), std::optional<bool>(true));
    EXPECT_EQ(WireTimingOverride("off"), std::optional<bool>(false));
    EXPECT_EQ(WireTimingOverride("1"), std::nullopt);
    EXPECT_EQ(WireTimingOverride(""), std::nullopt);
}

// The port's kind as sysfs tells it: the open looks up the tty's own name (here a pty's, dressed
// up in a fake tree) under FWBURN_SYSFS_ROOT. A USB-serial adapter reports no UART type, so only
// the bus its device sits on says that it has a wire, and how long it holds short reads.
TEST(WireTiming, PortKindFromSysfs) {
    struct Case {
        const char* what;
        const char* subsystem;  // nullptr: no entry at all (a pseudo-terminal)
        const char* latency;
        bool wire;
        uint32_t latencyMs;
    };
    const Case cases[] = {
        {"ftdi_sio, default latency", "usb-serial", "16", true, 16},
        {"ftdi_sio, latency set to 1", "usb-serial", "1", true, 1},
        {"an adapter without latency_timer", "usb-serial", "", true, 16},
        {"an adapter with a garbled latency_timer", "usb-serial", "x", true, 16},
        {"cdc_acm: the controller's own USB port", "usb", "", false, 0},
        {"a platform device", "platform", "", false, 0},
        {"a pseudo-terminal", nullptr, "", false, 0},
    };
    unsetenv("FWBURN_WIRE_TIMING");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pty pty;
        ASSERT_TRUE(pty.ok());
        const std::string name = std::filesystem::path(pty.slavePath()).filename().string();
        FakeSysfs t;
        if (c.subsystem != nullptr) {
            t.AddTtyOnBus(name, "usb1/1-1/1-1:1.0/" + name, c.subsystem, c.latency);
        }
        EXPECT_EQ(UsbSerialLatencyMs(t.sys(), name).has_value(), c.wire);
        setenv("FWBURN_SYSFS_ROOT", t.sys().c_str(), 1);
        auto device = OpenSerialPort(pty.slavePath());
        unsetenv("FWBURN_SYSFS_ROOT");
        ASSERT_TRUE(device);
        EXPECT_EQ(device->wireTiming(), c.wire);
        EXPECT_EQ(device->ReadLatencyMs(), c.latencyMs);
        EXPECT_EQ(PortHasWire(device->fd(), false), false);  // a pty reports no UART type
    }
    // Names that would leave the tty class directory are no port's.
    FakeSysfs t;
    t.AddTtyOnBus("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial");
    EXPECT_EQ(UsbSerialLatencyMs(t.sys(), "ttyUSB0"), std::optional<uint32_t>(16));
    EXPECT_EQ(UsbSerialLatencyMs(t.sys(), "../tty/ttyUSB0"), std::nullopt);
    EXPECT_EQ(UsbSerialLatencyMs(t.sys(), ""), std::nullopt);
}

// The far end answers at once with a stale byte, then with the reply when the request could have
// crossed: with the rule the read waits for the reply; without it, it takes the stale byte. The
// line is slow so that the stale byte, however late a busy machine lets the far end send it or
// the reader take it, is still read before the bound.
TEST(WireTiming, ADeviceDropsWhatArrivesBeforeItsRequestCouldHaveCrossed) {
    for (const bool rule : {true, false}) {
        SCOPED_TRACE(rule ? "wire timing on" : "wire timing off");
        Pty pty;
        ASSERT_TRUE(pty.ok());
        auto device = OpenSerialPort(pty.slavePath());
        ASSERT_TRUE(device);
        device->SetWireTiming(rule);
        // 100 bytes at 1200 8N1: 833 ms on the wire, 792 ms with the margin.
        ASSERT_TRUE(device->SetLineSettings({1200, 8, kNoParity, kOneStopBit, 0, 0}));
        ASSERT_TRUE(device->SetTimeouts({kMaxDword, 0, 3000, 0, 3000}));
        const std::string request(100, 'Q');
        auto farEnd = std::async(std::launch::async, [&] {
            pty.Receive(request.size(), 2000);
            pty.Send("S");  // stale: the request is still crossing
            std::this_thread::sleep_for(milliseconds(900));
            pty.Send("R");
        });
        const Clock::time_point start = Clock::now();
        ASSERT_EQ(device->Write(reinterpret_cast<const uint8_t*>(request.data()), 100), 100u);
        uint8_t reply = 0;
        ASSERT_EQ(device->Read(&reply, 1), 1u);
        const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
        farEnd.get();
        if (rule) {
            EXPECT_EQ(reply, 'R');
            EXPECT_GE(took, 890);
            EXPECT_EQ(device->staleBytesDropped(), 1u);
        } else {
            EXPECT_EQ(reply, 'S');
            EXPECT_LT(took, 792);
            EXPECT_EQ(device->staleBytesDropped(), 0u);
        }
    }
}

// Replies after the bound are taken at once, and a read with nothing written before it is not
// held back.
TEST(WireTiming, RepliesAfterTheBoundPassUntouched) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto device = OpenSerialPort(pty.slavePath());
    ASSERT_TRUE(device);
    device->SetWireTiming(true);
    ASSERT_TRUE(device->SetLineSettings({115200, 8, kNoParity, kOneStopBit, 0, 0}));
    ASSERT_TRUE(device->SetTimeouts({kMaxDword, 0, 3000, 0, 3000}));
    pty.Send("AB");
    ASSERT_TRUE(WaitForInput(device->fd(), 2));
    uint8_t buffer[2] = {};
    EXPECT_EQ(device->Read(buffer, 2), 2u);
    const std::string block(261, 'B');
    ASSERT_EQ(device->Write(reinterpret_cast<const uint8_t*>(block.data()), 261), 261u);
    pty.Receive(261, 2000);
    std::this_thread::sleep_for(milliseconds(30));  // past 21.5 ms
    pty.Send("\x06");
    EXPECT_EQ(device->Read(buffer, 1), 1u);
    EXPECT_EQ(buffer[0], 0x06);
    EXPECT_EQ(device->staleBytesDropped(), 0u);
}

}  // namespace
}  // namespace fwburn::posix::test

// A trace recorded from an update against the simulated controller replays to the same update:
// the same bytes written, the same outcome.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "protocol/trace.hpp"
#include "tests/e2e/bench.hpp"
#include "tests/support/replay_device.hpp"

namespace fwburn {
namespace {

using sim::FaultKind;
using sim::Phase;
using test::Bench;
using test::BenchOptions;

struct TraceCase {
    const char* model;
    uint32_t length;
    Phase faultPhase;
    FaultKind faultKind;
    int times;
    const char* outcome;
};

class Trace : public ::testing::TestWithParam<TraceCase> {};

TEST_P(Trace, RecordedUpdateReplaysByteForByte) {
    const TraceCase& c = GetParam();
    BenchOptions o;
    o.selected = c.model;
    o.imageLength = c.length;
    sim::ReplyFault f;
    f.phase = c.faultPhase;
    f.kind = c.faultKind;
    f.times = c.times;
    o.faults.replies.push_back(f);
    Bench bench(o);

    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    TraceWriter writer(file, [&bench] { return bench.link.NowMs(); });
    TracingDevice traced(bench.link, writer);
    auto open = [&]() -> Device* {
        return bench.link.Open() ? static_cast<Device*>(&traced) : &ClosedDevice();
    };
    bench.op.openUsb = open;
    bench.op.openSerial = [&](const char*) { return open(); };
    bench.op.close = [&](Device* d) {
        if (d == &traced) {
            bench.link.Close();
        }
    };
    bench.Start();
    ASSERT_EQ(bench.Final().text, c.outcome);

    std::rewind(file);
    std::vector<TraceEvent> events;
    std::string error;
    ASSERT_TRUE(ParseTrace(file, events, &error)) << error;
    std::fclose(file);
    ASSERT_FALSE(events.empty());
    size_t unnamed = 0;
    for (const TraceEvent& e : events) {
        unnamed += e.kind == "tx" && e.request == "unknown";
    }
    EXPECT_EQ(unnamed, 0u);  // every request is named

    // Replay: the same worker, the controller's side from the trace only.
    test::ReplayDevice replay(events);
    test::RecordingOperator op;
    op.openUsb = [&] { return static_cast<Device*>(&replay); };
    op.openSerial = [&](const char*) { return static_cast<Device*>(&replay); };
    ResetJobState();
    SelectModelRow(FindModelRow(c.model));
    selectedComPort.Set("COM3");
    ASSERT_TRUE(TryClaimWorker());
    StartBurn(bench.image.Job(op));
    const auto messages = op.Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().text, c.outcome);
    EXPECT_TRUE(replay.mismatches.empty()) << replay.mismatches[0];
    EXPECT_TRUE(replay.Finished());
}

const TraceCase kTraces[] = {
    {"ZL500-AIO", 11056, Phase::kBlock, FaultKind::kNak, 2,
     "Firmware update is SUCCESSFUL!, please REPLUG the USB cable"},
    {"MN6", 9000, Phase::kIdQuery, FaultKind::kBadLrc, 3, "Firmware update is SUCCESSFUL"},
    {"RV7-G", 9000, Phase::kEraseStep, FaultKind::kSilence, -1,
     "PLC DOES NOT respond to the erasing signal"},
};

INSTANTIATE_TEST_SUITE_P(E2e, Trace, ::testing::ValuesIn(kTraces),
                         [](const auto& p) { return test::TestName(p.param.model); });

TEST(TraceFormat, NamesAndParsing) {
    const std::string mode = ":006401590141\r\n";
    EXPECT_EQ(RequestName(reinterpret_cast<const uint8_t*>(mode.data()), 15), "mode-query");
    const uint8_t eot[] = {0x04};
    EXPECT_EQ(RequestName(eot, 1), "EOT");
    std::vector<uint8_t> block(261, 0);
    block[0] = 0x02;
    block[1] = 17;
    EXPECT_EQ(RequestName(block.data(), 261), "block-17");
    EXPECT_EQ(RequestName(block.data(), 260), "unknown");

    std::FILE* file = std::tmpfile();
    std::fputs(
        "# header\n12 tx ID 4944 written=1 retry\n15 rx ID 06 want=3\n"
        "20 set-line 115200 8 N 1 dtr=0 rts=0\n21 timeouts 4294967295 0 3000 0 3000\n"
        "22 discard\n23 note open /dev/ttyACM0\n",
        file);
    std::rewind(file);
    std::vector<TraceEvent> events;
    std::string error;
    ASSERT_TRUE(ParseTrace(file, events, &error)) << error;
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0].count, 1u);
    EXPECT_EQ(events[0].bytes, (std::vector<uint8_t>{'I', 'D'}));
    EXPECT_EQ(events[1].count, 3u);
    EXPECT_EQ(events[2].line, (LineSettings{115200, 8, 0, 0, 0, 0}));
    EXPECT_EQ(events[3].timeouts.readTotalConstant, 3000u);
    std::rewind(file);
    std::fputs("5 tx ID 49G4\n", file);
    std::rewind(file);
    events.clear();
    EXPECT_FALSE(ParseTrace(file, events, &error));
    EXPECT_EQ(error, "line 1: bad bytes");
    std::fclose(file);
}

}  // namespace
}  // namespace fwburn

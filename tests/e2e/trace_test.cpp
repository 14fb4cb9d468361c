// A trace recorded from an update against the simulated controller replays to the same update:
// the same bytes written, the same outcome.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "link/trace/trace_parser.hpp"
#include "link/trace/trace_writer.hpp"
#include "link/trace/tracing_device.hpp"
#include "protocol/request_name.hpp"
#include "tests/e2e/bench.hpp"
#include "tests/support/replay_device.hpp"

namespace fwburn::test {
namespace {

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
    Bench bench(Options(c.model, c.length, {Fault(c.faultPhase, c.faultKind, c.times)}));

    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    TraceWriter writer(file, [&bench] { return bench.link.NowMs(); });
    TracingDevice traced(bench.link, writer, RequestName);
    bench.OpenWith([&]() -> Device* {
        return bench.link.Open() ? static_cast<Device*>(&traced) : &ClosedDevice();
    });
    bench.op.close = [&](Device* d) {
        if (d == &traced) {
            bench.link.Close();
        }
    };
    bench.Start();
    ASSERT_EQ(bench.Final().text, c.outcome);

    EXPECT_EQ(writer.WriteError(), 0);
    std::rewind(file);
    std::vector<TraceEvent> events;
    std::string error;
    ASSERT_TRUE(ParseTrace(file, events, &error)) << error;
    ASSERT_FALSE(events.empty());
    // What was written is the parsed events written out again, line for line.
    std::string written;
    std::rewind(file);
    for (int byte = std::getc(file); byte != EOF; byte = std::getc(file)) {
        written += static_cast<char>(byte);
    }
    std::fclose(file);
    std::string formatted = "# fwburn link trace 1\n";
    for (const TraceEvent& e : events) {
        formatted += FormatTraceEvent(e) + "\n";
    }
    EXPECT_EQ(written, formatted);
    size_t unnamed = 0;
    for (const TraceEvent& e : events) {
        unnamed += e.kind == "tx" && e.request == "unknown";
    }
    EXPECT_EQ(unnamed, 0u);  // every request is named

    // Replay: the same worker, the controller's side from the trace only.
    ReplayDevice replay(events);
    RecordingOperator op;
    op.openUsb = [&] { return static_cast<Device*>(&replay); };
    op.openSerial = [&](const char*) { return static_cast<Device*>(&replay); };
    Update update;
    bench.image.Job(update, op, FindModelRow(c.model));
    StartBurn(update);
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
                         [](const auto& p) { return TestName(p.param.model); });

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
        "22 discard\n23 note open /dev/ttyACM0\n24 discard dropped=3\n",
        file);
    std::rewind(file);
    std::vector<TraceEvent> events;
    std::string error;
    ASSERT_TRUE(ParseTrace(file, events, &error)) << error;
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(events[0].count, 1u);
    EXPECT_EQ(events[0].bytes, (std::vector<uint8_t>{'I', 'D'}));
    EXPECT_EQ(events[1].count, 3u);
    EXPECT_EQ(events[2].line, (LineSettings{115200, 8, 0, 0, 0, 0}));
    EXPECT_EQ(events[3].timeouts.readTotalConstant, 3000u);
    EXPECT_EQ(events[6].count, 3u);
    EXPECT_EQ(FormatTraceEvent(events[6]), "24 discard dropped=3");
    EXPECT_EQ(FormatTraceEvent(events[4]), "22 discard");
    std::rewind(file);
    std::fputs("5 tx ID 49G4\n", file);
    std::rewind(file);
    events.clear();
    EXPECT_FALSE(ParseTrace(file, events, &error));
    EXPECT_EQ(error, "line 1: bad bytes");
    std::fclose(file);
}

// ---- the parser on what no writer makes

std::FILE* TextFile(const std::string& text) {
    std::FILE* file = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    return file;
}

bool Parses(const std::string& text, std::vector<TraceEvent>& events, std::string& error) {
    std::FILE* file = TextFile(text);
    events.clear();
    const bool ok = ParseTrace(file, events, &error);
    std::fclose(file);
    return ok;
}

struct MalformedCase {
    const char* line;  // one line, its newline added
    const char* error;
};

class MalformedTrace : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedTrace, IsRefusedWithTheLineAndTheReason) {
    const MalformedCase& c = GetParam();
    std::vector<TraceEvent> events;
    std::string error;
    EXPECT_FALSE(Parses(std::string("1 discard\n") + c.line + "\n", events, error));
    EXPECT_EQ(error, std::string("line 2: ") + c.error);
    EXPECT_EQ(events.size(), 1u);  // what came before stays
}

const MalformedCase kMalformed[] = {
    {"5 rx ID 06 want=99999999999999999999", "bad field want=99999999999999999999"},
    {"5 rx ID 06 want=x", "bad field want=x"},
    {"5 rx ID 06 want=-1", "bad field want=-1"},
    {"5 rx ID 06 want=4294967296", "bad field want=4294967296"},
    {"5 rx ID 06 want=", "bad field want="},
    {"5 rx ID 06 want=3 want=3", "bad field want=3"},
    {"5 rx ID 0607 want=1", "more bytes than wanted"},
    {"5 rx ID 06 retry", "bad field retry"},
    {"5 tx ID 4944 written=99999999999999999999", "bad field written=99999999999999999999"},
    {"5 tx ID 4944 written=1x", "bad field written=1x"},
    {"5 tx ID 4944 written=3", "written exceeds the bytes"},
    {"5 tx ID 4944 retry retry", "bad field retry"},
    {"5 tx ID 4944 want=2", "bad field want=2"},
    {"5 tx ID 494", "bad bytes"},
    {"5 tx ID", "bad bytes"},
    {"99999999999999999999 discard", "no time and event"},
    {"x discard", "no time and event"},
    {"+5 discard", "no time and event"},
    {"5", "no time and event"},
    {"5 set-line -1 8 N 1 dtr=0 rts=0", "bad line"},
    {"5 set-line 4294967296 8 N 1 dtr=0 rts=0", "bad line"},
    {"5 set-line 9600 256 N 1 dtr=0 rts=0", "bad line"},
    {"5 set-line 9600 8 X 1 dtr=0 rts=0", "bad line"},
    {"5 set-line 9600 8 N 3 dtr=0 rts=0", "bad line"},
    {"5 set-line 9600 8 N 1 dtr=x rts=0", "bad line"},
    {"5 set-line 9600 8 N 1 dtr=0 rts=256", "bad line"},
    {"5 set-line 9600 8 N 1 dtr=0", "bad line"},
    {"5 set-line 9600 8 N 1 dtr=0 rts=0 maybe", "bad line"},
    {"5 timeouts 1 2 3 4 -1", "bad time-outs"},
    {"5 timeouts 1 2 3 4 4294967296", "bad time-outs"},
    {"5 timeouts 1 2 3 4", "bad time-outs"},
    {"5 timeouts 1 2 3 4 5 6", "bad time-outs"},
    {"5 get-line maybe", "bad get-line"},
    {"5 discard now", "bad discard"},
    {"5 discard dropped=0", "bad discard"},
    {"5 discard dropped=1 dropped=1", "bad discard"},
    {"5 note a\tb", "control character"},
    {"5 flush", "unknown event flush"},
};

INSTANTIATE_TEST_SUITE_P(Parser, MalformedTrace, ::testing::ValuesIn(kMalformed),
                         [](const auto& p) { return TestName(p.param.line); });

TEST(TraceParser, ReadsEveryFieldAtItsLimits) {
    std::vector<TraceEvent> events;
    std::string error;
    ASSERT_TRUE(
        Parses("9223372036854775807 rx ID - want=4294967295\n"
               "0 set-line 4294967295 255 ? ? dtr=255 rts=2 refused\n"
               "1 timeouts 4294967295 0 007 0 1\n"
               "2 get-line none\n"
               "3 note  open failed: in use  \n"
               "  \n"
               "4 tx block-7 0a0B written=0 retry\r\n",
               events, error))
        << error;
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0].ms, INT64_MAX);
    EXPECT_EQ(events[0].count, 4294967295u);
    EXPECT_TRUE(events[0].bytes.empty());
    EXPECT_EQ(events[1].line, (LineSettings{4294967295u, 255, 0xFF, 0xFF, 255, 2}));
    EXPECT_TRUE(events[1].failed);
    EXPECT_EQ(events[2].timeouts, (Timeouts{4294967295u, 0, 7, 0, 1}));
    EXPECT_TRUE(events[3].failed);
    EXPECT_EQ(events[4].text, " open failed: in use  ");
    EXPECT_EQ(events[5].bytes, (std::vector<uint8_t>{0x0A, 0x0B}));
    EXPECT_EQ(events[5].count, 0u);
    EXPECT_TRUE(events[5].retry);
}

TEST(TraceParser, RefusesALineCutShortOrTooLong) {
    std::vector<TraceEvent> events;
    std::string error;
    // What a write that failed part way leaves: the last line without its end.
    EXPECT_FALSE(Parses("1 discard\n2 tx block-7 0203", events, error));
    EXPECT_EQ(error, "line 2: cut short: no end of line");
    EXPECT_EQ(events.size(), 1u);
    // One long line is one line, not several read in pieces.
    const std::string hex(2 * 70000, 'A');
    EXPECT_FALSE(Parses("1 tx unknown " + hex + "\n2 discard\n", events, error));
    EXPECT_EQ(error, "line 1: line too long");
    const std::string note(5000, 'n');
    ASSERT_TRUE(Parses("1 note " + note + "\n2 discard\n", events, error)) << error;
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].text, note);
}

// ---- the writer on a file that fails

#ifdef __GLIBC__  // a stream of one's own: glibc's fopencookie

// A stream that takes `room` bytes and then fails as a full disk does; it counts the writes.
struct FullDisk {
    size_t room;
    std::string taken;
    int writes = 0;
};

std::FILE* OpenFullDisk(FullDisk& disk) {
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* data, size_t size) -> ssize_t {
        FullDisk& d = *static_cast<FullDisk*>(cookie);
        ++d.writes;
        const size_t n = std::min(size, d.room - d.taken.size());
        d.taken.append(data, n);
        if (n < size) {
            errno = ENOSPC;  // the stream takes a short write for a failure too
        }
        return n == 0 ? -1 : static_cast<ssize_t>(n);
    };
    return fopencookie(&disk, "w", io);
}

TEST(TraceWriter, AFailedWriteIsKeptAndEndsTheTrace) {
    for (size_t room : {0u, 30u, 60u}) {
        FullDisk disk{room, {}};
        std::FILE* out = OpenFullDisk(disk);
        int64_t now = 0;
        TraceWriter writer(out, [&now] { return now; });
        for (int i = 0; i < 10; ++i) {
            now += 10;
            writer.Note("line " + std::to_string(i));
        }
        EXPECT_EQ(writer.WriteError(), ENOSPC) << room;
        const int writesAtError = disk.writes;
        writer.Note("after");
        EXPECT_EQ(disk.writes, writesAtError) << room;  // nothing more is tried
        std::fclose(out);
        // What went out is the start of what the writer made, in order.
        std::string whole = "# fwburn link trace 1\n";
        for (int i = 0; i < 10; ++i) {
            whole += std::to_string(10 * (i + 1)) + " note line " + std::to_string(i) + "\n";
        }
        EXPECT_EQ(disk.taken, whole.substr(0, room)) << room;
    }
}
#endif

TEST(TraceWriter, DevFullIsAnErrorFromTheFirstLine) {
    std::FILE* out = std::fopen("/dev/full", "w");
    if (out == nullptr) {
        GTEST_SKIP() << "no /dev/full";
    }
    TraceWriter writer(out, [] { return int64_t{0}; });
    EXPECT_EQ(writer.WriteError(), ENOSPC);
    std::fclose(out);
}

TEST(TraceWriter, ANoteStaysOneLine) {
    std::FILE* file = std::tmpfile();
    TraceWriter writer(file, [] { return int64_t{0}; });
    writer.Note("open /dev/tty\nUSB0\r\x01\x7f end");
    std::rewind(file);
    std::vector<TraceEvent> events;
    std::string error;
    ASSERT_TRUE(ParseTrace(file, events, &error)) << error;
    std::fclose(file);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].text, "open /dev/tty?USB0??? end");
}

}  // namespace
}  // namespace fwburn::test

// The traced link: what it records of each call, read back through the parser, and the calls
// still reaching the device underneath unchanged.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "link/trace/trace_parser.hpp"
#include "link/trace/trace_writer.hpp"
#include "link/trace/tracing_device.hpp"
#include "tests/support/fake_device.hpp"
#include "tests/support/test_name.hpp"

namespace fwburn {
namespace {

using test::Bytes;
using test::FakeDevice;
using test::ToBytes;

// A traced fake device on a temporary file, and the events the file reads back as.
struct Traced {
    explicit Traced(RequestNamer namer)
        : file(std::tmpfile()),
          writer(file, [this] { return now; }),
          device(fake, writer, std::move(namer)) {}
    ~Traced() { std::fclose(file); }

    std::vector<TraceEvent> Events() {
        std::rewind(file);
        std::vector<TraceEvent> events;
        std::string error;
        EXPECT_TRUE(ParseTrace(file, events, &error)) << error;
        return events;
    }
    uint32_t Write(const std::string& text) {
        const Bytes bytes = ToBytes(text);
        return device.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    int64_t now = 0;
    std::FILE* file;
    FakeDevice fake;
    TraceWriter writer;
    TracingDevice device;
};

TEST(TracingDevice, NamesEachWriteByTheNamerAndEachReadByTheWriteBefore) {
    std::vector<std::string> named;
    Traced t([&named](const uint8_t* data, uint32_t length) {
        named.emplace_back(data, data + length);
        return "req" + std::to_string(length);
    });
    t.fake.script.push_back(test::Reply("xy"));
    t.fake.script.push_back(test::ShortWrite(1));
    uint8_t buffer[8] = {};
    EXPECT_EQ(t.device.Read(buffer, 3), 0u);  // before any write
    t.now = 5;
    EXPECT_EQ(t.Write("ABC"), 3u);
    EXPECT_EQ(t.device.Read(buffer, 2), 2u);
    EXPECT_EQ(std::string(buffer, buffer + 2), "xy");
    t.now = 9;
    EXPECT_EQ(t.Write("DE"), 1u);  // the device's short count goes through
    EXPECT_EQ(t.device.Read(buffer, 4), 0u);

    EXPECT_EQ(named, (std::vector<std::string>{"ABC", "DE"}));  // each write's own bytes, once
    EXPECT_EQ(t.fake.Writes(), (std::vector<std::string>{"ABC", "DE"}));
    const std::vector<TraceEvent> events = t.Events();
    ASSERT_EQ(events.size(), 5u);
    const struct {
        const char* kind;
        const char* request;
        const char* bytes;
        uint32_t count;
        int64_t ms;
    } want[] = {{"rx", "none", "", 3, 0},
                {"tx", "req3", "ABC", 3, 5},
                {"rx", "req3", "xy", 2, 5},
                {"tx", "req2", "DE", 1, 9},
                {"rx", "req2", "", 4, 9}};
    for (size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].kind, want[i].kind);
        EXPECT_EQ(events[i].request, want[i].request);
        EXPECT_EQ(events[i].bytes, ToBytes(want[i].bytes));
        EXPECT_EQ(events[i].count, want[i].count);
        EXPECT_EQ(events[i].ms, want[i].ms);
        EXPECT_FALSE(events[i].retry);
    }
}

TEST(TracingDevice, WithoutANamerEveryWriteIsUnknown) {
    Traced t(nullptr);
    t.Write("ID");
    uint8_t buffer[1];
    t.device.Read(buffer, 1);
    const std::vector<TraceEvent> events = t.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].request, "unknown");
    EXPECT_EQ(events[1].request, "unknown");
}

struct RetryCase {
    const char* what;
    std::vector<std::string> writes;
    std::vector<bool> retries;
};

void PrintTo(const RetryCase& c, std::ostream* out) {
    *out << c.what;
}

class TracingDeviceRetry : public ::testing::TestWithParam<RetryCase> {};

// The namer calls ":W" the wake frame, whose repeats are by design.
TEST_P(TracingDeviceRetry, MarksTheSameBytesAgainAsARetry) {
    const RetryCase& c = GetParam();
    Traced t([](const uint8_t* data, uint32_t length) {
        return std::string(data, data + length) == ":W" ? "wake" : "other";
    });
    for (const std::string& w : c.writes) {
        t.Write(w);
    }
    const std::vector<TraceEvent> events = t.Events();
    ASSERT_EQ(events.size(), c.retries.size());
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].retry, c.retries[i]) << i;
    }
}

const RetryCase kRetries[] = {
    {"same bytes twice", {"ID", "ID", "ID"}, {false, true, true}},
    {"other bytes between", {"ID", "ERASE", "ID"}, {false, false, false}},
    {"wake frame repeated", {":W", ":W", ":W"}, {false, false, false}},
    {"nothing, twice", {"", ""}, {false, true}},
    {"a first write of nothing", {""}, {false}},
};

INSTANTIATE_TEST_SUITE_P(Link, TracingDeviceRetry, ::testing::ValuesIn(kRetries),
                         [](const auto& p) { return test::TestName(p.param.what); });

TEST(TracingDevice, PassesSettingsThroughAndRecordsTheirOutcome) {
    Traced t(nullptr);
    t.fake.serialPort = false;  // a USB handle: no line settings
    LineSettings got;
    EXPECT_FALSE(t.device.GetLineSettings(got));
    const LineSettings line{9600, 7, 2, 0, 0, 0};
    EXPECT_FALSE(t.device.SetLineSettings(line));
    const Timeouts timeouts{kMaxDword, 0, 200, 0, 200};
    t.device.SetTimeouts(timeouts);
    t.fake.Inject("late");
    t.fake.readLatencyMs = 16;
    EXPECT_EQ(t.device.ReadLatencyMs(), 16u);
    EXPECT_EQ(t.device.DiscardInput(), 4u);  // the count passes through, and into the trace
    EXPECT_EQ(t.device.DiscardInput(), 0u);
    EXPECT_EQ(t.fake.timeouts(), timeouts);
    EXPECT_EQ(t.fake.CallsOf(test::Call::kDiscard).size(), 2u);

    const std::vector<TraceEvent> events = t.Events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].kind, "get-line");
    EXPECT_TRUE(events[0].failed);
    EXPECT_EQ(events[1].kind, "set-line");
    EXPECT_EQ(events[1].line, line);
    EXPECT_TRUE(events[1].failed);
    EXPECT_EQ(events[2].kind, "timeouts");
    EXPECT_EQ(events[2].timeouts, timeouts);
    EXPECT_EQ(events[3].kind, "discard");
    EXPECT_EQ(events[3].count, 4u);
    EXPECT_EQ(events[4].count, 0u);
}

}  // namespace
}  // namespace fwburn

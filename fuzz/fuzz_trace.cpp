// The link trace on any input. As text: the parser returns (no throw, no abort), says which line
// it stopped at, and what it accepts writes back to the same events, fixed point after one round.
// As a script of calls on a traced link: every line the writer makes parses back to exactly the
// calls made, whatever the bytes, settings and note texts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/trace/trace_parser.hpp"
#include "link/trace/trace_writer.hpp"
#include "link/trace/tracing_device.hpp"
#include "protocol/request_name.hpp"

#include "fuzz/fuzz_device.hpp"
#include "fuzz/require.hpp"

using namespace fwburn;
using fuzz::Require;

namespace {

bool Parse(const std::string& text, std::vector<TraceEvent>& events, std::string& error) {
    events.clear();
    if (text.empty()) {
        return true;  // fmemopen wants at least one byte
    }
    std::string copy = text;
    std::FILE* in = fmemopen(&copy[0], copy.size(), "r");
    Require(in != nullptr);
    const bool ok = ParseTrace(in, events, &error);
    std::fclose(in);
    return ok;
}

std::string Format(const std::vector<TraceEvent>& events) {
    std::string text;
    for (const TraceEvent& e : events) {
        text += FormatTraceEvent(e) + "\n";
    }
    return text;
}

// Events that could stand in a trace: a plain reading of the format's limits.
void RequireSound(const TraceEvent& e) {
    if (e.kind == "tx") {
        Require(e.count <= e.bytes.size());
    } else if (e.kind == "rx") {
        Require(e.bytes.size() <= e.count && !e.retry);
    } else {
        Require(e.kind == "get-line" || e.kind == "set-line" || e.kind == "timeouts" ||
                e.kind == "discard" || e.kind == "note");
        Require(e.bytes.empty() && e.request.empty());
    }
    Require(e.text.empty() || e.kind == "note");
    for (char c : e.text + e.request) {
        Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    }
}

void AnyText(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<TraceEvent> events;
    std::string error;
    const bool ok = Parse(text, events, error);
    if (!ok) {
        // "line N: why", N within the text.
        Require(error.compare(0, 5, "line ") == 0);
        const long line = std::strtol(error.c_str() + 5, nullptr, 10);
        size_t lines = 1;
        for (char c : text) {
            lines += c == '\n';
        }
        Require(line >= 1 && static_cast<size_t>(line) <= lines);
        return;
    }
    for (const TraceEvent& e : events) {
        RequireSound(e);
    }
    const std::string once = Format(events);
    std::vector<TraceEvent> again;
    Require(Parse(once, again, error));
    Require(again == events);
    Require(Format(again) == once);
}

// A script of calls on the traced link: each control byte picks one.
struct Script {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint8_t Next() { return pos < size ? data[pos++] : 0; }
    uint32_t Next32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v = v << 8 | Next();
        }
        return v;
    }
};

void Calls(const uint8_t* data, size_t size) {
    Script s{data, size};
    int64_t now = 1000;
    char* buffer = nullptr;
    size_t length = 0;
    std::FILE* out = open_memstream(&buffer, &length);
    Require(out != nullptr);
    std::vector<TraceEvent> expected;
    {
        TraceWriter writer(out, [&now] { return now; });
        fuzz::FuzzDevice device(data, size);  // replies from the same bytes, read on its own
        TracingDevice traced(device, writer, RequestName);
        std::vector<uint8_t> lastWrite;
        bool wrote = false;
        while (s.pos < s.size && expected.size() < 64) {
            const uint8_t control = s.Next();
            now += control >> 3;
            TraceEvent e;
            e.ms = now - 1000;
            switch (control % 7) {
                case 0: {
                    e.kind = "tx";
                    const size_t n = s.Next();
                    for (size_t i = 0; i < n; ++i) {
                        e.bytes.push_back(s.Next());
                    }
                    e.count = traced.Write(e.bytes.data(), static_cast<uint32_t>(n));
                    e.retry = wrote && e.bytes == lastWrite;  // name checked below
                    lastWrite = e.bytes;
                    wrote = true;
                    break;
                }
                case 1: {
                    e.kind = "rx";
                    e.count = s.Next();
                    std::vector<uint8_t> got(e.count + 1, 0xEE);
                    const uint32_t n = traced.Read(got.data(), e.count);
                    Require(n <= e.count && got[e.count] == 0xEE);
                    e.bytes.assign(got.begin(), got.begin() + n);
                    break;
                }
                case 2: {
                    e.kind = "get-line";
                    LineSettings ignored;
                    e.failed = !traced.GetLineSettings(ignored);
                    break;
                }
                case 3:
                    e.kind = "set-line";
                    e.line = {s.Next32(), s.Next(), s.Next(), s.Next(), s.Next(), s.Next()};
                    e.failed = !traced.SetLineSettings(e.line);
                    // What the updater never uses is written "?": any such value reads back as
                    // 0xFF.
                    e.line.parity = e.line.parity <= 2 ? e.line.parity : 0xFF;
                    e.line.stopBits = e.line.stopBits <= 2 ? e.line.stopBits : 0xFF;
                    break;
                case 4:
                    e.kind = "timeouts";
                    e.timeouts = {s.Next32(), s.Next32(), s.Next32(), s.Next32(), s.Next32()};
                    traced.SetTimeouts(e.timeouts);
                    break;
                case 5:
                    e.kind = "discard";
                    traced.DiscardInput();
                    break;
                default: {
                    e.kind = "note";
                    const size_t n = s.Next() % 32;
                    std::string text;
                    for (size_t i = 0; i < n; ++i) {
                        text += static_cast<char>(s.Next());
                    }
                    writer.Note(text);
                    for (char& c : text) {
                        const auto u = static_cast<unsigned char>(c);
                        c = u < 0x20 || u == 0x7F ? '?' : c;
                    }
                    e.text = text;
                    break;
                }
            }
            expected.push_back(e);
        }
        Require(writer.WriteError() == 0);
    }
    std::fclose(out);
    const std::string text(buffer, length);
    std::free(buffer);

    std::vector<TraceEvent> events;
    std::string error;
    Require(Parse(text, events, error));
    Require(events.size() == expected.size());
    std::string lastRequest = "none";
    for (size_t i = 0; i < events.size(); ++i) {
        TraceEvent& got = events[i];
        TraceEvent& want = expected[i];
        if (got.kind == "tx") {
            // The name is the writer's own reading of the bytes: a single word, and a repeat of
            // the wake frame is by design, not a retry.
            Require(!got.request.empty() && got.request.find(' ') == std::string::npos);
            want.retry = want.retry && got.request != "wake";
            lastRequest = got.request;
            want.request = got.request;
        } else if (got.kind == "rx") {
            want.request = lastRequest;
        }
        Require(got == want);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AnyText(data, size);
    Calls(data, size);
    return 0;
}

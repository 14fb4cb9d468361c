// The --trace file as the Linux host opens it: the worker's lines never wait for the file, what
// the file misses is counted exactly, and a write that fails ends the trace.
#include "ui/console/session/queued_trace.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "link/trace/trace_parser.hpp"
#include "tests/console/stuck_reader.hpp"
#include "ui/console/posix/output_queue.hpp"

namespace fwburn::console {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string MakeDirectory() {
    char name[] = "/tmp/fwburn-trace-XXXXXX";
    EXPECT_NE(mkdtemp(name), nullptr);
    return name;
}

struct Scratch {
    ~Scratch() {
        unlink(path.c_str());
        rmdir(dir.c_str());
    }
    const std::string dir = MakeDirectory();
    const std::string path = dir + "/trace";
};

int64_t Zero() {
    return 0;
}

// As PosixHost::OpenTrace makes it, the errno of the open in `openError`.
std::unique_ptr<QueuedTrace> Open(const std::string& path, int& openError,
                                  size_t maxPending = WriterLanes::kDefaultMaxPending) {
    return std::make_unique<QueuedTrace>(path, OpenTraceFile(path, openError), Zero, maxPending);
}

TEST(QueuedTraceTest, AFifoNobodyReadsCostsTheWorkerNothingAndEveryLineIsAccounted) {
    fixture::Fifo fifo;
    // Full before the trace begins, so that its writer can never have moved a byte lately, however
    // late a busy machine lets its thread run. The filler ends no line.
    const int filler = open(fifo.path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(filler, 0);
    fixture::FillToTheBrim(filler);
    close(filler);
    int openError = -1;
    const std::unique_ptr<QueuedTrace> owned = Open(fifo.path, openError, 16 * 1024);
    QueuedTrace& trace = *owned;
    EXPECT_EQ(openError, 0);
    ASSERT_NE(trace.writer(), nullptr);

    size_t posted = 1;  // the header
    std::vector<Clock::duration> took;
    for (int i = 0; i < 2000; ++i, ++posted) {
        const Clock::time_point start = Clock::now();
        trace.writer()->Note("block " + std::to_string(i) + std::string(100, '.'));
        took.push_back(Clock::now() - start);
    }
    fixture::ExpectNeverHeldUp(took);
    const size_t beyondTheBound = trace.Dropped();
    EXPECT_GT(beyondTheBound, 0u);
    Clock::time_point start = Clock::now();
    const size_t atOutcome = trace.DroppedAtOutcome();
    EXPECT_LT(Clock::now() - start, QueuedTrace::kStall + milliseconds(500));
    EXPECT_GT(atOutcome, beyondTheBound);  // what waited is given up on

    trace.writer()->Note("close");  // after the outcome: queued for a file given up on once
    ++posted;
    start = Clock::now();
    const size_t atEnd = trace.Finish();
    EXPECT_LT(Clock::now() - start, QueuedTrace::kStall + milliseconds(500));
    EXPECT_GT(atEnd, atOutcome);
    EXPECT_EQ(trace.WriteError(), 0);

    // The reader comes back: what it finds and what was counted are all the lines, no more.
    const std::string text = fixture::ReadUntil(fifo.reader, "", 200);
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(lines + trace.Dropped(), posted);
    EXPECT_LE(trace.Dropped(), atEnd);  // the line being written at the end got out after all
}

TEST(QueuedTraceTest, ARegularFileGetsEveryLineAndNothingIsDropped) {
    Scratch scratch;
    int openError = -1;
    const std::unique_ptr<QueuedTrace> owned = Open(scratch.path, openError);
    QueuedTrace& trace = *owned;
    ASSERT_NE(trace.writer(), nullptr);
    for (int i = 0; i < 1000; ++i) {
        trace.writer()->Note("line " + std::to_string(i));
    }
    EXPECT_EQ(trace.DroppedAtOutcome(), 0u);
    EXPECT_EQ(trace.Finish(), 0u);
    std::FILE* in = std::fopen(scratch.path.c_str(), "r");
    ASSERT_NE(in, nullptr);
    std::vector<TraceEvent> events;
    std::string error;
    EXPECT_TRUE(ParseTrace(in, events, &error)) << error;
    std::fclose(in);
    ASSERT_EQ(events.size(), 1000u);
    EXPECT_EQ(events.back().text, "line 999");
}

TEST(QueuedTraceTest, WhatCannotBeOpenedOrWrittenIsTold) {
    struct Case {
        const char* path;
        int openError;
        int writeError;
    };
    const Case cases[] = {
        {"", 0, 0},  // no file given: no trace
        {"/nonexistent-fwburn-dir/trace", ENOENT, 0},
        {"/dev/full", 0, ENOSPC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        int openError = 0;
        const std::shared_ptr<Destinations> file =
            c.path[0] != '\0' ? OpenTraceFile(c.path, openError) : nullptr;
        EXPECT_EQ(openError, c.openError);
        EXPECT_EQ(file != nullptr, c.path[0] != '\0' && c.openError == 0);
        // As the hosts make it: no file, no trace.
        const std::unique_ptr<QueuedTrace> trace = TraceOn(c.path, file);
        EXPECT_EQ(trace != nullptr, c.path[0] != '\0' && c.openError == 0);
        if (trace != nullptr) {
            EXPECT_EQ(trace->Finish(), 0u);
            EXPECT_EQ(trace->WriteError(), c.writeError);
            trace->writer()->Note("after");  // the writer learns of the failure and stops
            EXPECT_EQ(trace->writer()->WriteError(), c.writeError);
        }
    }
}

}  // namespace
}  // namespace fwburn::console

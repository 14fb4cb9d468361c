// The terminal's writer: a reader that does not read never holds back the caller, and what is
// written still arrives whole and in order once it reads again.
#include "ui/console/posix/output_queue.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace fwburn::console {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Pipe {
    Pipe() {
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        r = fds[0];
        w = fds[1];
    }
    ~Pipe() {
        CloseRead();
        close(w);
    }
    void CloseRead() {
        if (r >= 0) {
            close(r);
            r = -1;
        }
    }
    // Fills the pipe to the brim; it stays a blocking pipe for its writer.
    void Fill() {
        fcntl(w, F_SETPIPE_SZ, 4096);
        const int flags = fcntl(w, F_GETFL);
        fcntl(w, F_SETFL, flags | O_NONBLOCK);
        const std::string block(4096, 'x');
        while (write(w, block.data(), block.size()) > 0) {
        }
        fcntl(w, F_SETFL, flags);
        filled = true;
    }
    // Everything the pipe holds until `want` is at its end or a second passes without a byte;
    // the filling is left out.
    std::string ReadUntil(const std::string& want) {
        std::string text;
        pollfd p{r, POLLIN, 0};
        while (poll(&p, 1, 1000) > 0) {
            char buffer[4096];
            const ssize_t n = read(r, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            text.append(buffer, static_cast<size_t>(n));
            if (text.size() >= want.size() &&
                text.compare(text.size() - want.size(), want.size(), want) == 0) {
                break;
            }
        }
        return filled ? text.substr(text.find_first_not_of('x')) : text;
    }

    int r = -1;
    int w = -1;
    bool filled = false;
};

void Say(std::FILE* f, const std::string& text) {
    std::fputs(text.c_str(), f);
    std::fflush(f);
}

TEST(OutputQueueTest, OneFileKeepsTheOrderOfBothStreams) {
    Pipe pipe;
    OutputQueue queue(pipe.w, pipe.w);
    Say(queue.out(), "status\r");
    Say(queue.err(), "prompt: ");
    Say(queue.out(), "more\n");
    EXPECT_EQ(pipe.ReadUntil("more\n"), "status\rprompt: more\n");
    EXPECT_TRUE(queue.DrainUntil(Clock::now() + milliseconds(1000)));
    EXPECT_TRUE(queue.Idle());
}

TEST(OutputQueueTest, AStuckOutputHoldsBackNeitherTheCallerNorTheOtherStream) {
    Pipe out;
    Pipe err;
    out.Fill();
    OutputQueue queue(out.w, err.w);
    const Clock::time_point start = Clock::now();
    std::string said;
    for (int i = 0; i < 1000; ++i) {
        const std::string line = "progress line " + std::to_string(i) + "\n";
        Say(queue.out(), line);
        said += line;
    }
    Say(queue.err(), "interrupted\n");
    EXPECT_LT(Clock::now() - start, milliseconds(500));
    EXPECT_EQ(err.ReadUntil("interrupted\n"), "interrupted\n");
    EXPECT_FALSE(queue.Idle());
    EXPECT_FALSE(queue.DrainUntil(Clock::now() + milliseconds(100)));  // gives up in time

    // The reader comes back: the lines arrive whole, in order, the last one among them.
    EXPECT_EQ(out.ReadUntil("progress line 999\n"), said);
    EXPECT_TRUE(queue.DrainUntil(Clock::now() + milliseconds(1000)));
    EXPECT_EQ(queue.Dropped(), 0u);
}

TEST(OutputQueueTest, BeyondItsLimitTheOldestWholePiecesGo) {
    Pipe out;
    out.Fill();
    OutputQueue queue(out.w, out.w, 100);
    for (int i = 100; i < 200; ++i) {
        Say(queue.out(), "line " + std::to_string(i) + "\n");  // 9 bytes each
    }
    EXPECT_GT(queue.Dropped(), 0u);
    const std::string text = out.ReadUntil("line 199\n");
    // Whole lines only, the newest kept, the one stuck in the write when the pipe filled first.
    EXPECT_EQ(text.size() % 9, 0u) << text;
    EXPECT_LE(text.size(), 9u + 100u + 9u);
    EXPECT_EQ(text.substr(text.size() - 9), "line 199\n");
    EXPECT_EQ(queue.Dropped() + text.size(), 100u * 9u);
}

TEST(OutputQueueTest, AReaderThatWentAwayIsReportedNotASignal) {
    Pipe out;
    out.CloseRead();
    OutputQueue queue(out.w, out.w);
    Say(queue.out(), "nobody reads this\n");
    pollfd p{queue.wakeFd(), POLLIN, 0};
    const Clock::time_point deadline = Clock::now() + milliseconds(2000);
    while (!queue.BrokenPipe() && Clock::now() < deadline) {
        poll(&p, 1, 100);
        queue.Take();
    }
    EXPECT_TRUE(queue.BrokenPipe());  // and this process is still here: no SIGPIPE
    EXPECT_TRUE(queue.DrainUntil(Clock::now() + milliseconds(1000)));
}

TEST(OutputQueueTest, LeavingDoesNotWaitForAStuckOutput) {
    Pipe out;
    out.Fill();
    const Clock::time_point start = Clock::now();
    {
        OutputQueue queue(out.w, out.w);
        Say(queue.out(), "stuck\n");
    }
    EXPECT_LT(Clock::now() - start, milliseconds(500));
}

}  // namespace
}  // namespace fwburn::console

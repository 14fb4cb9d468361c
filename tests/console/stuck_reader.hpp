// What the tests of the writers that must never wait share: a FIFO and a pipe that nobody reads,
// filled to the brim, how long each post took, and what the reader finds once it reads again.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace fwburn::console::fixture {

// A FIFO in a directory of its own, its reading end open and unread, its buffer the smallest.
struct Fifo {
    Fifo() {
        char name[] = "/tmp/fwburn-fifo-XXXXXX";
        EXPECT_NE(mkdtemp(name), nullptr);
        dir = name;
        path = dir + "/trace";
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(reader, 0);
        fcntl(reader, F_SETPIPE_SZ, 4096);
    }
    Fifo(const Fifo&) = delete;
    Fifo& operator=(const Fifo&) = delete;
    ~Fifo() {
        if (reader >= 0) {
            close(reader);
        }
        unlink(path.c_str());
        rmdir(dir.c_str());
    }

    std::string dir;
    std::string path;
    int reader = -1;
};

// Writes to `fd` until it takes no more; it stays a blocking file for its writer.
inline void FillToTheBrim(int fd, size_t piece = 4096) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const std::string block(piece, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    fcntl(fd, F_SETFL, flags);
}

// Everything `fd` holds until `want` is at its end, or `quietMs` pass without a byte.
inline std::string ReadUntil(int fd, const std::string& want = "", int quietMs = 1000) {
    std::string text;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, quietMs) > 0) {
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
        if (!want.empty() && text.size() >= want.size() &&
            text.compare(text.size() - want.size(), want.size(), want) == 0) {
            break;
        }
    }
    return text;
}

// A blocked write would never return; a busy machine may preempt the caller now and then.
inline void ExpectNeverHeldUp(std::vector<std::chrono::steady_clock::duration> took) {
    using std::chrono::milliseconds;
    ASSERT_FALSE(took.empty());
    std::sort(took.begin(), took.end());
    EXPECT_LT(took[took.size() * 99 / 100], milliseconds(5));
    EXPECT_LT(took.back(), milliseconds(250));
}

}  // namespace fwburn::console::fixture

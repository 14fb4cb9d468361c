// The writers to descriptors, the terminal's and the trace file's: a reader that does not read
// never holds back the caller, and what is written still arrives whole and in order once it reads
// again.
#include "ui/console/posix/output_queue.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/console/stuck_reader.hpp"
#include "ui/console/session/queued_trace.hpp"

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
        if (!leftOpen) {
            CloseRead();
            close(w);
        }
    }
    void CloseRead() {
        if (r >= 0) {
            close(r);
            r = -1;
        }
    }
    // Fills the pipe to the brim.
    void Fill() {
        fcntl(w, F_SETPIPE_SZ, 4096);
        fixture::FillToTheBrim(w);
        filled = true;
    }
    // Everything the pipe holds until `want` is at its end or a second passes without a byte;
    // the filling is left out.
    std::string ReadUntil(const std::string& want) {
        const std::string text = fixture::ReadUntil(r, want);
        return filled ? text.substr(text.find_first_not_of('x')) : text;
    }

    int r = -1;
    int w = -1;
    bool filled = false;
    bool leftOpen = false;  // for a writer still in its write: closed under it, the number could
                            // be reused by the next test's file
};

void Say(std::FILE* f, const std::string& text) {
    std::fputs(text.c_str(), f);
    std::fflush(f);
}

// Also as `>log 2>&1` hands it over, one file under two descriptors: while nobody reads, the
// prompt waits behind the lines said before it.
TEST(OutputQueueTest, OneFileKeepsTheOrderOfBothStreams) {
    for (const bool twoDescriptors : {false, true}) {
        SCOPED_TRACE(twoDescriptors ? "two descriptors" : "one descriptor");
        Pipe pipe;
        pipe.Fill();
        const int err = twoDescriptors ? fcntl(pipe.w, F_DUPFD_CLOEXEC, 3) : pipe.w;
        ASSERT_GE(err, 0);
        {
            OutputQueue queue(pipe.w, err);
            std::string said;
            for (int i = 0; i < 100; ++i) {
                said += "progress line " + std::to_string(i) + "\n";
                Say(queue.out(), "progress line " + std::to_string(i) + "\n");
            }
            Say(queue.out(), "status\r");
            Say(queue.err(), "prompt: ");
            Say(queue.out(), "more\n");
            EXPECT_EQ(pipe.ReadUntil("more\n"), said + "status\rprompt: more\n");
            EXPECT_TRUE(queue.DrainUntil(Clock::now() + milliseconds(1000)));
            EXPECT_TRUE(queue.Idle());
        }
        if (twoDescriptors) {
            close(err);
        }
    }
}

// Also where another program made the descriptor non-blocking (it shares the terminal or the
// pipe): a write then takes nothing, or part of a line, until the reader comes back.
TEST(OutputQueueTest, AStuckOutputHoldsBackNeitherTheCallerNorTheOtherStream) {
    for (const bool nonBlocking : {false, true}) {
        SCOPED_TRACE(nonBlocking ? "non-blocking" : "blocking");
        Pipe out;
        Pipe err;
        out.Fill();
        if (nonBlocking) {
            fcntl(out.w, F_SETFL, fcntl(out.w, F_GETFL) | O_NONBLOCK);
        }
        OutputQueue queue(out.w, err.w);
        const Clock::time_point start = Clock::now();
        std::string said;
        for (int i = 0; i < 1000; ++i) {
            // Now and then a line longer than the pipe holds.
            const std::string line = "progress line " + std::to_string(i) +
                                     (i % 100 == 50 ? std::string(6000, '.') : "") + "\n";
            Say(queue.out(), line);
            said += line;
        }
        Say(queue.err(), "interrupted\n");
        EXPECT_LT(Clock::now() - start, milliseconds(500));
        EXPECT_EQ(err.ReadUntil("interrupted\n"), "interrupted\n");
        EXPECT_FALSE(queue.Idle());
        EXPECT_FALSE(queue.DrainUntil(Clock::now() + milliseconds(100)));  // gives up in time

        // The reader comes back: the lines arrive whole, in order, the last one among them.
        const std::string got = out.ReadUntil("progress line 999\n");
        EXPECT_EQ(got.size(), said.size());
        EXPECT_TRUE(got == said);
        EXPECT_TRUE(queue.DrainUntil(Clock::now() + milliseconds(1000)));
        EXPECT_EQ(queue.Dropped(), 0u);
        EXPECT_EQ(queue.WriteError(0), 0);
    }
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

// A line longer than the stream's buffer reaches the queue in several pieces: dropped, it goes
// whole, never its start alone.
TEST(OutputQueueTest, ALineLongerThanTheBufferIsDroppedWhole) {
    Pipe out;
    out.Fill();
    OutputQueue queue(out.w, out.w, 10000);
    const std::string said[] = {"first", std::string(20000, 'a'), "last"};
    size_t size = 0;
    for (const std::string& line : said) {
        Say(queue.out(), line + "\n");
        size += line.size() + 1;
    }
    const std::string text = out.ReadUntil("last\n");
    EXPECT_EQ(queue.Dropped() + text.size(), size);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_NE(std::find(std::begin(said), std::end(said), line), std::end(said))
            << line.size() << " bytes: " << line.substr(0, 20);
    }
}

// A write that fails midway (over the file's size limit here, as on a full disk) loses the rest of
// its line, queued or still to come: no line reads whole with a hole in it. The lines after it go
// out once the writes go through again.
TEST(OutputQueueTest, AWriteThatFailsMidwayTakesTheRestOfItsLine) {
    char dir[] = "/tmp/fwburn-midway-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/out";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 6;
    setrlimit(RLIMIT_FSIZE, &small);
    {
        OutputQueue queue(fd, fd);
        Say(queue.out(), "aaaa");
        Say(queue.out(), "bbbb");  // two bytes fit
        EXPECT_TRUE(queue.DrainUntil(Clock::now() + milliseconds(1000)));
        setrlimit(RLIMIT_FSIZE, &before);
        Say(queue.out(), "cc\n");
        Say(queue.out(), "dd\n");
        EXPECT_TRUE(queue.DrainUntil(Clock::now() + milliseconds(1000)));
        EXPECT_EQ(queue.WriteError(0), EFBIG);
        EXPECT_EQ(queue.Dropped(), 2u + 3u);
    }
    setrlimit(RLIMIT_FSIZE, &before);
    char text[32] = {};
    EXPECT_EQ(pread(fd, text, sizeof text, 0), 9);
    EXPECT_STREQ(text, "aaaabbdd\n");
    close(fd);
    unlink(path.c_str());
    rmdir(dir);
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
    out.leftOpen = true;  // as the program's stdout and stderr, which it never closes
    const Clock::time_point start = Clock::now();
    {
        OutputQueue queue(out.w, out.w);
        Say(queue.out(), "stuck\n");
    }
    EXPECT_LT(Clock::now() - start, milliseconds(500));
}

// A file that takes nothing: a write blocks until a reader reads, which none does.
struct Unread {
    const char* name;
    std::function<void(int& writeFd, std::vector<int>& keep)> make;
};

std::vector<Unread> UnreadFiles() {
    return {
        {"pipe",
         [](int& w, std::vector<int>& keep) {
             int fds[2];
             ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
             keep.push_back(fds[0]);
             w = fds[1];
         }},
        {"FIFO",
         [](int& w, std::vector<int>& keep) {
             fixture::Fifo fifo;
             w = open(fifo.path.c_str(), O_WRONLY | O_CLOEXEC);
             keep.push_back(std::exchange(fifo.reader, -1));
         }},
        {"pty",
         [](int& w, std::vector<int>& keep) {
             int master = -1;
             ASSERT_EQ(openpty(&master, &w, nullptr, nullptr, nullptr), 0);
             keep.push_back(master);
         }},
    };
}

TEST(QueuedFileTest, AFileThatTakesNothingNeverHoldsUpThePoster) {
    for (const Unread& unread : UnreadFiles()) {
        SCOPED_TRACE(unread.name);
        int w = -1;
        std::vector<int> keep;
        unread.make(w, keep);
        ASSERT_GE(w, 0);
        fixture::FillToTheBrim(w, 512);  // full: the next write blocks
        QueuedFile file(OwnedDescriptor(w), 8 * 1024);
        const std::string line(200, 'x');
        std::vector<Clock::duration> took;
        for (int i = 0; i < 5000; ++i) {  // 1 MB: far beyond what the file and the bound hold
            const Clock::time_point start = Clock::now();
            file.Post(line + "\n");
            took.push_back(Clock::now() - start);
        }
        fixture::ExpectNeverHeldUp(took);
        EXPECT_GT(file.Dropped(), 0u);
        EXPECT_EQ(file.Error(), 0);
        EXPECT_FALSE(file.DrainUntil(Clock::now() + milliseconds(50)));
        // A pty takes a few bytes more as its line discipline moves them on; then nothing.
        const Clock::time_point deadline = Clock::now() + milliseconds(2000);
        while (!file.Stalled(milliseconds(50)) && Clock::now() < deadline) {
            std::this_thread::sleep_for(milliseconds(10));
        }
        EXPECT_TRUE(file.Stalled(milliseconds(50)));
        for (int fd : keep) {
            close(fd);
        }
    }
}

// Every piece posted is either in the file, whole and in order, or counted dropped.
TEST(QueuedFileTest, WhatIsDroppedIsCountedExactly) {
    for (const bool giveUp : {false, true}) {
        SCOPED_TRACE(giveUp ? "given up on" : "beyond the bound");
        Pipe pipe;
        pipe.Fill();
        QueuedFile file(OwnedDescriptor(dup(pipe.w)), 100);
        for (int i = 100; i < 200; ++i) {
            file.Post("line " + std::to_string(i) + "\n");  // 9 bytes each
        }
        if (giveUp) {
            file.GiveUp();
        }
        for (int i = 200; i < 210; ++i) {
            file.Post("line " + std::to_string(i) + "\n");
        }
        EXPECT_EQ(file.Missing(), 110u);  // the pipe is full: not one of them is in it yet
        const std::string text = pipe.ReadUntil("line 209\n");
        ASSERT_TRUE(file.DrainUntil(Clock::now() + milliseconds(1000)));
        ASSERT_EQ(text.size() % 9, 0u) << text;
        int last = 0;
        for (size_t at = 0; at < text.size(); at += 9) {
            const int n = std::atoi(text.substr(at + 5, 3).c_str());
            EXPECT_GT(n, last) << text;
            last = n;
        }
        EXPECT_EQ(file.Dropped() + text.size() / 9, 110u);
        EXPECT_FALSE(file.Stalled(milliseconds(0)));
    }
}

// The first failed write ends the file: nothing more goes out, and none of it counts as dropped.
// The signal such a write raises is not the process's: this test would end with it.
TEST(QueuedFileTest, AFailedWriteEndsTheFileWithItsError) {
    struct Case {
        const char* name;
        int error;
        std::function<int()> open;
    };
    char dir[] = "/tmp/fwburn-queued-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string big = std::string(dir) + "/big";
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    const Case cases[] = {
        {"full disk", ENOSPC, [] { return open("/dev/full", O_WRONLY | O_CLOEXEC); }},
        {"reader gone", EPIPE,
         [] {
             int fds[2];
             EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
             close(fds[0]);
             return fds[1];
         }},
        {"size limit", EFBIG,
         [&] {
             rlimit small = before;
             small.rlim_cur = 27;
             setrlimit(RLIMIT_FSIZE, &small);
             return open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int fd = c.open();
        ASSERT_GE(fd, 0);
        QueuedFile file(OwnedDescriptor(fd));
        for (int i = 10; i < 20; ++i) {
            file.Post("line " + std::to_string(i) + "\n");
        }
        ASSERT_TRUE(file.DrainUntil(Clock::now() + milliseconds(1000)));
        EXPECT_EQ(file.Error(), c.error);
        file.Post("after\n");
        EXPECT_TRUE(file.DrainUntil(Clock::now() + milliseconds(1000)));
        EXPECT_EQ(file.Error(), c.error);
        EXPECT_EQ(file.Dropped(), 0u);
    }
    setrlimit(RLIMIT_FSIZE, &before);
    struct stat st {};
    ASSERT_EQ(stat(big.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 27);  // three lines fit, and nothing was tried after the failure
    unlink(big.c_str());
    rmdir(dir);
}

// A FIFO as the trace: its reader may already wait or come a moment later; one that never comes
// is an error within a few seconds, never an open that waits for ever.
TEST(OpenTraceFileTest, AFifoIsOpenedOnlyWithItsReader) {
    char dir[] = "/tmp/fwburn-fifo-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/trace";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    for (const int readerAfterMs : {-1, 0, 300}) {
        SCOPED_TRACE(readerAfterMs);
        int reader = -1;
        std::thread late;
        const auto openReader = [&] { reader = open(path.c_str(), O_RDONLY | O_NONBLOCK); };
        if (readerAfterMs == 0) {
            openReader();
        } else if (readerAfterMs > 0) {
            late = std::thread([&] {
                std::this_thread::sleep_for(milliseconds(readerAfterMs));
                openReader();
            });
        }
        const auto start = Clock::now();
        int error = -1;
        const std::shared_ptr<Destinations> file = OpenTraceFile(path, error);
        if (late.joinable()) {
            late.join();
        }
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
        if (readerAfterMs < 0) {
            EXPECT_EQ(file, nullptr);
            EXPECT_EQ(error, ENXIO);
            continue;
        }
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(error, 0);
        size_t left = 0;
        EXPECT_EQ(file->Write(0, 0, "trace\n", left, [] {}), 0);
        char got[16] = {};
        EXPECT_EQ(read(reader, got, sizeof got), 6);
        close(reader);
    }
    unlink(path.c_str());
    rmdir(dir);
}

// A device's line named as the trace is refused before it is opened: the record would go down
// it to whatever is on it, a controller among them. The user's terminals and files of devices
// that are no line are written as the shell's `>` does.
TEST(OpenTraceFileTest, ALineToADeviceIsNoTraceFile) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to make device nodes";
    }
    char dir[] = "/tmp/fwburn-lines-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string node = std::string(dir) + "/node";
    // (the node's device, refused)
    const struct {
        dev_t device;
        bool refused;
    } cases[] = {{makedev(4, 64), true},   // a serial port
                 {makedev(5, 1), true},    // the console
                 {makedev(4, 1), true},    // a virtual console
                 {makedev(1, 3), false}};  // a device that is no line
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(major(c.device)) + ":" + std::to_string(minor(c.device)));
        ASSERT_EQ(mknod(node.c_str(), S_IFCHR | 0600, c.device), 0) << std::strerror(errno);
        int error = 0;
        EXPECT_EQ(OpenTraceFile(node, error) == nullptr, c.refused);
        EXPECT_EQ(error, c.refused ? kTraceOnALine : 0);
        unlink(node.c_str());
    }
    rmdir(dir);
    // A pseudo-terminal: another window.
    int master = -1;
    int pty = -1;
    ASSERT_EQ(openpty(&master, &pty, nullptr, nullptr, nullptr), 0);
    int error = -1;
    EXPECT_NE(OpenTraceFile(ttyname(pty), error), nullptr);
    EXPECT_EQ(error, 0);
    close(pty);
    close(master);
}

// A name in a directory writable by all with the sticky bit may be another user's doing, and the
// trace would overwrite or empty the file it leads to, whatever fs.protected_symlinks and
// fs.protected_hardlinks say: a symbolic link another user planted there is not followed, and a
// file of more than one name there is not emptied. The user's own link there, a file of one name
// there, and either kind of link in a directory of the user's, are taken as the shell's `>` does.
TEST(OpenTraceFileTest, ALinkInASharedDirectoryIsNeitherFollowedNorEmptied) {
    char dir[] = "/tmp/fwburn-shared-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string victim = std::string(dir) + "/victim";
    const std::string shared = std::string(dir) + "/shared";
    const std::string own = std::string(dir) + "/own";
    ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(mkdir(own.c_str(), 0755), 0);
    enum Link { kNone, kSymbolic, kHard };
    constexpr uid_t kOther = 65534;  // a symbolic link's owner other than the user needs root
    // (the trace's directory, what it is, a symbolic link's owner, opened)
    const struct {
        std::string dir;
        Link link;
        uid_t owner;
        bool opened;
    } cases[] = {{shared, kSymbolic, kOther, false}, {shared, kSymbolic, geteuid(), true},
                 {own, kSymbolic, kOther, true},     {shared, kHard, 0, false},
                 {shared, kNone, 0, true},           {own, kHard, 0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dir + " link " + std::to_string(c.link) + " " + std::to_string(c.owner));
        if (c.link == kSymbolic && c.owner != geteuid() && geteuid() != 0) {
            continue;
        }
        const std::string trace = c.dir + "/trace";
        const std::string target = c.link == kNone ? trace : victim;
        const int v = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(v, 0);
        ASSERT_EQ(write(v, "keep\n", 5), 5);
        close(v);
        if (c.link == kSymbolic) {
            ASSERT_EQ(symlink(victim.c_str(), trace.c_str()), 0);
            ASSERT_EQ(lchown(trace.c_str(), c.owner, c.owner), 0);
        } else if (c.link == kHard) {
            ASSERT_EQ(link(victim.c_str(), trace.c_str()), 0) << std::strerror(errno);
        }
        int error = -1;
        const std::shared_ptr<Destinations> file = OpenTraceFile(trace, error);
        EXPECT_EQ(file != nullptr, c.opened);
        EXPECT_EQ(error, c.opened ? 0 : EACCES);
        struct stat st {};
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, c.opened ? 0 : 5);  // the shell's `>` empties what it opens
        unlink(trace.c_str());
        unlink(victim.c_str());
    }
    rmdir(shared.c_str());
    rmdir(own.c_str());
    rmdir(dir);
}

}  // namespace
}  // namespace fwburn::console

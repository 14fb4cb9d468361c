// The writer lanes against scripted writes: what a failed write costs under each lane's rule, and
// what leaving does to a write under way where the threads end (Linux) and where they never do
// (Windows), which no native test of a real host could show.
#include "ui/console/session/writer_lanes.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fwburn::console {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kGone = 32;
constexpr int kFailed = 5;

// Writes that go into `written`, held while `held`, and fail as `fails` says for a piece.
class Scripted final : public Destinations {
  public:
    struct Failure {
        size_t goes;  // bytes that go out before the write fails
        int code;
    };

    explicit Scripted(bool threadsEnd) : threadsEnd_(threadsEnd) {}

    int Write(size_t, size_t, const std::string& bytes, size_t& left, const Moved& moved) override {
        std::unique_lock<std::mutex> lock(mutex);
        ++writes;
        changed.notify_all();
        changed.wait(lock, [this] { return !held; });
        const auto failure = fails.find(bytes);
        const size_t goes = failure != fails.end() ? failure->second.goes : bytes.size();
        written += bytes.substr(0, goes);
        left = bytes.size() - goes;
        lock.unlock();
        moved();
        return failure != fails.end() ? failure->second.code : 0;
    }
    bool ReaderGone(int code) const override { return code == kGone; }
    void Wake() override {
        std::lock_guard<std::mutex> lock(mutex);
        ++wakes;
    }
    bool ThreadsEnd() const override { return threadsEnd_; }
    void Release() override {
        std::lock_guard<std::mutex> lock(mutex);
        ++releases;
    }
    int Errno(int code) const override { return code; }
    std::string Reason(int) const override { return ""; }

    void Hold(bool on) {
        std::lock_guard<std::mutex> lock(mutex);
        held = on;
        changed.notify_all();
    }
    // Waits until `n` writes have begun.
    bool Began(int n) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, milliseconds(2000), [&] { return writes >= n; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    int writes = 0;
    int wakes = 0;
    int releases = 0;
    std::map<std::string, Failure> fails;
    std::string written;

  private:
    const bool threadsEnd_;
};

void Post(WriterLanes& lanes, const std::string& piece) {
    lanes.Post(0, 0, piece.data(), piece.size());
}

// A terminal goes on, short of the rest of the line the failed write cut: queued ("cccc") or
// posted after it ("dd\n"), never written after a hole.
TEST(WriterLanesTest, AFailedWriteLosesTheRestOfItsLineAndAFileNothingMore) {
    struct Case {
        const char* name;
        bool endAtError;
        int code;
        const char* written;
        int error;
        size_t droppedBytes;
        size_t droppedPieces;
        bool brokenPipe;
        int firstError;  // what the end of the run says was lost
    };
    const Case cases[] = {
        {"a file ends", true, kFailed, "aaaab", kFailed, 3, 0, false, kFailed},
        {"a terminal goes on", false, kFailed, "aaaabeeee\n", 0, 10, 2, false, kFailed},
        {"a reader gone wakes the loop", false, kGone, "aaaabeeee\n", 0, 10, 2, true, kGone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto script = std::make_shared<Scripted>(true);
        script->fails["bbbb"] = {1, c.code};
        WriterLanes::Options options;
        options.endAtError = c.endAtError;
        auto lanes = std::make_shared<WriterLanes>(script, options);
        WriterLanes::Start(lanes);
        script->Hold(true);
        for (const char* piece : {"aaaa", "bbbb", "cccc"}) {
            Post(*lanes, piece);
        }
        ASSERT_TRUE(script->Began(1));
        script->Hold(false);
        ASSERT_TRUE(lanes->DrainUntil(Clock::now() + milliseconds(2000)));
        Post(*lanes, "dd\n");
        Post(*lanes, "eeee\n");
        ASSERT_TRUE(lanes->DrainUntil(Clock::now() + milliseconds(2000)));

        EXPECT_EQ(lanes->Error(0), c.error);
        EXPECT_EQ(lanes->DroppedBytes(), c.droppedBytes);
        EXPECT_EQ(lanes->DroppedPieces(0), c.droppedPieces);
        EXPECT_EQ(lanes->BrokenPipe(), c.brokenPipe);
        EXPECT_EQ(lanes->FirstError(0), c.firstError);
        EXPECT_EQ(lanes->FirstError(1), 0);  // a destination nothing was written to
        lanes->Leave();
        std::lock_guard<std::mutex> lock(script->mutex);  // never while asking the lanes
        EXPECT_EQ(script->written, c.written);
        EXPECT_GE(script->wakes, 1);  // gone idle
    }
}

// While a piece is held in its write, the pieces posted meanwhile pass the bound: what is dropped
// leaves the reader whole lines, and of a line redrawn in place (a terminal's status line) whole
// updates, never the end of a line without its start nor a start left open before another line.
TEST(WriterLanesTest, BeyondTheBoundALineGoesWholeOrStays) {
    constexpr const char* kGiveUp = nullptr;
    struct Case {
        const char* name;
        size_t maxPending;
        std::vector<const char*> posted;  // the first is held in its write; kGiveUp gives up
        const char* written;
        size_t droppedPieces;
    };
    const Case cases[] = {
        {"a line's start posted alone goes with its end",
         8,
         {"0\n", "aaaaaa", "a\n", "bb", "b\n"},
         "0\nbbb\n",
         2},
        {"what waits exactly at the bound all stays", 6, {"0\n", "aa\n", "bb\n"}, "0\naa\nbb\n", 0},
        {"the end of a line under way stays",
         8,
         {"aaaa", "a\n", "bbbbbbbbb\n"},
         "aaaaa\nbbbbbbbbb\n",
         0},
        {"a status line cleared before a line keeps the clearing",
         8,
         {"\rP1", "\r\033[K", "note\n"},
         "\rP1\r\033[Knote\n",
         0},
        {"a redrawn line goes with its end",
         6,
         {"0\n", "\rP1", "\rP2", "\n", "ok\n"},
         "0\nok\n",
         3},
        {"a redrawn line under way keeps its last update and its end",
         6,
         {"\rP1", "\rP2", "\rP3", "\n", "ok\n"},
         "\rP1\rP3\nok\n",
         1},
        // A board's redraw climbs back over the lines its first drawing wrote: without them it
        // would overwrite the lines above the board.
        {"a board drawn below a line stays while its redraws go",
         18,
         {"m\n", "\rA\nA\n", "\033[2A\rB\nB\n", "\033[2A\rC\nC\n"},
         "m\n\rA\nA\n\033[2A\rC\nC\n",
         1},
        {"a board cleared for a line goes with the drawing anew while the board is on screen",
         10,
         {"\rA\nA\n", "\033[2A\rB\nB\n", "\033[2A\r\033[J", "n\n", "\rC\nC\n", "\033[2A\rD\nD\n"},
         "\rA\nA\n\033[2A\rD\nD\n",
         4},
        {"a board's last redraw stays: the lines after it do not replace it",
         18,
         {"m\n", "\rA\nA\n", "\033[2A\rB\nB\n", "\033[2A\rC\nC\n", "Summary\n"},
         "m\n\rA\nA\n\033[2A\rC\nC\nSummary\n",
         1},
        // A terminal made shorter or taller changes the board's height: a redraw goes only for
        // one that climbs back as far, else the board on screen and the next climb disagree.
        {"a redraw that changes the board's height stays",
         18,
         {"m\n", "\rA\nA\nA\n", "\033[3A\r\033[JB\n", "\033[1A\rC\n", "\033[1A\rD\n",
          "\033[1A\rE\nE\nE\n", "\033[3A\rF\nF\nF\n", "\033[3A\rG\nG\nG\n"},
         "m\n\rA\nA\nA\n\033[3A\r\033[JB\n\033[1A\rE\nE\nE\n\033[3A\rG\nG\nG\n",
         3},
        {"a board cleared goes only with a redraw of its height",
         10,
         {"m\n", "\rA\nA\n", "\033[2A\r\033[J", "n\n", "\rC\n", "\033[1A\rD\n"},
         "m\n\rA\nA\n\033[2A\r\033[Jn\n\rC\n\033[1A\rD\n",
         0},
        {"a board cleared with no redraw yet stays with its line, the lines after them go",
         10,
         {"m\n", "\rA\nA\n", "\033[2A\r\033[J", "l1\n", "l2\n", "l3\n", "l4\n"},
         "m\n\rA\nA\n\033[2A\r\033[Jl1\nl4\n",
         2},
        {"an empty piece lets no drawing go from under its redraw",
         10,
         {"m\n", "\rA\nA\n", "", "\033[2A\rB\nB\n", "\033[2A\rC\nC\n"},
         "m\n\rA\nA\n\033[2A\rC\nC\n",
         1},
        {"the end of a line given up on goes too",
         1000,
         {"0\n", "aaaa", kGiveUp, "a\n", "b\n"},
         "0\nb\n",
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto script = std::make_shared<Scripted>(true);
        WriterLanes::Options options;
        options.maxPending = c.maxPending;
        auto lanes = std::make_shared<WriterLanes>(script, options);
        WriterLanes::Start(lanes);
        script->Hold(true);
        Post(*lanes, c.posted[0]);
        ASSERT_TRUE(script->Began(1));
        size_t posted = std::string(c.posted[0]).size();
        for (size_t i = 1; i < c.posted.size(); ++i) {
            if (c.posted[i] == kGiveUp) {
                lanes->GiveUp(0);
                continue;
            }
            Post(*lanes, c.posted[i]);
            posted += std::string(c.posted[i]).size();
        }
        script->Hold(false);
        ASSERT_TRUE(lanes->DrainUntil(Clock::now() + milliseconds(2000)));
        EXPECT_EQ(lanes->DroppedPieces(0), c.droppedPieces);
        const size_t dropped = lanes->DroppedBytes();
        lanes->Leave();
        std::lock_guard<std::mutex> lock(script->mutex);
        EXPECT_EQ(script->written, c.written);
        EXPECT_EQ(dropped + script->written.size(), posted);
    }
}

// Leaving never waits for a write. Where the threads end, the destinations go with the last of
// them once its write returns; where they never end, the owner releases the destinations, unless
// a write holds them (they then go with the process).
TEST(WriterLanesTest, LeavingNeverWaitsAndReleasesOnlyWhatNoWriteHolds) {
    struct Case {
        const char* name;
        bool threadsEnd;
        bool writing;
        int releasedAtLeave;
        bool endsAfterTheWrite;
    };
    const Case cases[] = {
        {"Linux, idle", true, false, 0, true},
        {"Linux, in a write", true, true, 0, true},
        {"Windows, idle", false, false, 1, false},
        {"Windows, in a write", false, true, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto script = std::make_shared<Scripted>(c.threadsEnd);
        auto lanes = std::make_shared<WriterLanes>(script, WriterLanes::Options{});
        WriterLanes::Start(lanes);
        if (c.writing) {
            script->Hold(true);
            Post(*lanes, "held");
            Post(*lanes, "queued");
            ASSERT_TRUE(script->Began(1));
        }
        const Clock::time_point start = Clock::now();
        lanes->Leave();
        EXPECT_LT(Clock::now() - start, milliseconds(500));
        Post(*lanes, "after");                              // not taken: the owner has gone
        EXPECT_EQ(lanes->Missing(0), c.writing ? 2u : 0u);  // "queued" dropped, "held" under way
        {
            std::lock_guard<std::mutex> lock(script->mutex);
            EXPECT_EQ(script->releases, c.releasedAtLeave);
        }
        script->Hold(false);
        const std::weak_ptr<WriterLanes> running = lanes;
        lanes.reset();
        // A thread that ends does so at once; one that waits on is given a moment to show it.
        const Clock::time_point deadline =
            Clock::now() + milliseconds(c.endsAfterTheWrite ? 2000 : 200);
        while (!running.expired() && Clock::now() < deadline) {
            std::this_thread::sleep_for(milliseconds(5));
        }
        EXPECT_EQ(running.expired(), c.endsAfterTheWrite);
        std::lock_guard<std::mutex> lock(script->mutex);
        EXPECT_EQ(script->releases, c.releasedAtLeave);
        EXPECT_EQ(script->written, c.writing ? "held" : "");  // not what waited, nor "after"
    }
}

}  // namespace
}  // namespace fwburn::console

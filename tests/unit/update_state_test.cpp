// The update object: what a fresh one holds, its port text, what the build gives it, and its
// figures read from another thread while a transfer moves them.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "burn/update.hpp"
#include "catalogue/catalogue.hpp"
#include "link/device.hpp"
#include "protocol/transfer.hpp"
#include "tests/support/fake_device.hpp"

namespace fwburn {
namespace {

void ExpectFiguresZero(const Figures& f) {
    EXPECT_EQ(f.flashStatus, 0);
    EXPECT_EQ(f.progress, 0);
    EXPECT_EQ(f.errCounter, 0);
    EXPECT_EQ(f.totalErrCounter, 0);
    EXPECT_EQ(f.elapsedTime, 0);
    EXPECT_EQ(f.done, 0u);
    EXPECT_EQ(f.total, 0u);
}

// Built over memory full of another update's leftovers: every member must be initialised by the
// object itself, not by whatever the memory held.
TEST(JobState, FreshUpdateStartsClosedWithEveryFigureZero) {
    alignas(Update) unsigned char storage[sizeof(Update)];
    std::memset(storage, 0xA5, sizeof storage);
    Update* u = new (storage) Update;
    EXPECT_EQ(u->op, nullptr);
    EXPECT_EQ(u->row, -1);
    for (char c : u->portName) {
        EXPECT_EQ(c, '\0');
    }
    EXPECT_EQ(u->image.data, nullptr);
    EXPECT_EQ(u->image.length, 0u);
    EXPECT_EQ(u->imageSha256, nullptr);
    EXPECT_FALSE(u->standInImage);
    EXPECT_FALSE(u->standInAllowed);
    EXPECT_EQ(u->bootIdRule, BootIdRule::Cpu);
    EXPECT_EQ(u->sink, nullptr);
    ExpectFiguresZero(u->figures);
    EXPECT_EQ(u->device, &ClosedDevice());
    EXPECT_EQ(u->ZL_fu_version, 0);
    EXPECT_FALSE(u->eraseBegun);
    u->~Update();
}

TEST(JobState, PortNameNeverOverrunsItsTenBytes) {
    struct Case {
        const char* in;
        const char* stored;
    };
    const Case cases[] = {
        {"COM3", "COM3"},
        {"COM123456", "COM123456"},
        {"COM1234567", "COM123456"},
        {"", ""},
        {nullptr, ""},
        {"USB", "USB"},
        {"a much longer name than fits", "a much lo"},
    };
    for (const Case& c : cases) {
        Update u;
        u.SetPortName("XXXXXXXXX");
        u.SetPortName(c.in);
        EXPECT_STREQ(u.portName, c.stored);
        // Zero-padded to the end: no stale character of the earlier text survives.
        for (size_t i = std::strlen(u.portName); i < sizeof u.portName; ++i) {
            EXPECT_EQ(u.portName[i], '\0');
        }
    }
}

// This binary is built with fwburn-cpu's profile: its image names the ZL500.
TEST(JobState, ThisBuildGivesImageDigestRuleAndModel) {
    Update u;
    ASSERT_TRUE(u.UseThisBuild());
    EXPECT_EQ(u.row, FindModelRow("ZL500"));
    EXPECT_STREQ(ModelName(u.row), "ZL500");
    const EmbeddedImage embedded = TheEmbeddedImage();
    EXPECT_EQ(u.image.data, embedded.data);
    EXPECT_EQ(u.image.length, embedded.length);
    EXPECT_NE(u.image.length, 0u);
    EXPECT_STREQ(u.imageSha256, ThisBuildProfile().imageSha256);
    EXPECT_EQ(u.standInImage, ThisBuildProfile().standInImage);
    EXPECT_EQ(u.bootIdRule, BootIdRule::Cpu);
    // The operator's yes is never the build's to give.
    EXPECT_FALSE(u.standInAllowed);
}

// Two updates share nothing: figures moved through one leave the other's at 0.
TEST(JobState, TwoUpdatesKeepTheirOwnFigures) {
    Update a;
    Update b;
    Progress pa(a.figures);
    pa.BeginPhase(Phase::Programming, 10);
    pa.Advance(3, 27);
    pa.Failed(2);
    a.figures.elapsedTime = 5;
    EXPECT_EQ(a.figures.flashStatus, 2);
    EXPECT_EQ(a.figures.progress, 27);
    EXPECT_EQ(a.figures.done, 3u);
    EXPECT_EQ(a.figures.total, 10u);
    EXPECT_EQ(a.figures.errCounter, 2);
    EXPECT_EQ(a.figures.totalErrCounter, 1);
    ExpectFiguresZero(b.figures);
    pa.Reset();
    ExpectFiguresZero(a.figures);
}

// The panel's thread sees the figures move while the worker is still in the middle of a transfer.
// The worker runs SendFW on a thread of its own and stops inside each write until this thread has
// seen, with the relaxed loads the painter uses, the figures that must stand at that moment. Each
// block is refused once and then taken, so the retry counters move as well.
TEST(JobState, FiguresCountAcrossThreads) {
    struct Seen {
        int32_t flashStatus, progress, errCounter, totalErrCounter;
        uint32_t done;
        bool operator==(const Seen& o) const {
            return flashStatus == o.flashStatus && progress == o.progress &&
                   errCounter == o.errCounter && totalErrCounter == o.totalErrCounter &&
                   done == o.done;
        }
    };
    // Five blocks of 128 bytes (progress in sixths), each sent twice, then the EOT.
    const Seen want[] = {
        {2, 0, 0, 0, 0},  {2, 0, 1, 1, 0},  {2, 16, 0, 1, 1}, {2, 16, 1, 2, 1},
        {2, 33, 0, 2, 2}, {2, 33, 1, 3, 2}, {2, 50, 0, 3, 3}, {2, 50, 1, 4, 3},
        {2, 66, 0, 4, 4}, {2, 66, 1, 5, 4}, {2, 83, 0, 5, 5},
    };
    const int steps = static_cast<int>(sizeof want / sizeof want[0]);

    Update update;
    update.row = FindModelRow("MN6");
    std::vector<uint8_t> image(640);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 7);
    }
    update.image = ImageSpan{image.data(), static_cast<uint32_t>(image.size())};

    std::mutex gate;
    std::condition_variable opened;
    int released = 0;
    int written = 0;  // the worker's own count
    test::FakeDevice device;
    device.fallback = [&](const test::Bytes& bytes) {
        const int k = written++;
        std::unique_lock<std::mutex> lock(gate);
        opened.wait(lock, [&] { return released > k; });
        // Every block refused at its first send; the EOT taken at once.
        const bool firstSend = bytes.size() > 1 && k % 2 == 0;
        return test::ReplyBytes({static_cast<uint8_t>(firstSend ? 0x15 : 0x06)});
    };
    std::mutex resultLock;
    bool done = false;
    uint8_t result = 0xFF;
    std::thread worker([&] {
        Progress progress(update.figures);
        Channel channel{device, progress};
        const uint8_t r = SendFW(channel, update.row, update.image);
        std::lock_guard<std::mutex> lock(resultLock);
        result = r;
        done = true;
    });
    auto release = [&](int upTo) {
        {
            std::lock_guard<std::mutex> lock(gate);
            released = upTo;
        }
        opened.notify_all();
    };
    auto finished = [&] {
        std::lock_guard<std::mutex> lock(resultLock);
        return done;
    };

    const Figures& f = update.figures;
    for (int k = 0; k < steps; ++k) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        Seen seen{};
        for (;;) {
            seen = {f.flashStatus, f.progress, f.errCounter, f.totalErrCounter, f.done};
            if (seen == want[k] || std::chrono::steady_clock::now() > deadline) {
                break;
            }
            std::this_thread::yield();
        }
        EXPECT_TRUE(seen == want[k])
            << "write " << k << ": seen " << seen.flashStatus << "/" << seen.progress << "/"
            << seen.errCounter << "/" << seen.totalErrCounter << "/" << seen.done;
        EXPECT_FALSE(finished()) << "write " << k;  // seen while the worker waits in the write
        if (!(seen == want[k])) {
            break;
        }
        release(k + 1);
    }
    release(1000);
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(written, steps);
    EXPECT_EQ(f.progress, 100);
    EXPECT_EQ(f.done, 5u);
    EXPECT_EQ(f.total, 5u);
    EXPECT_EQ(f.totalErrCounter, 5);
}

}  // namespace
}  // namespace fwburn

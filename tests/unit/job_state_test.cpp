#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "catalogue/job_state.hpp"
#include "link/device.hpp"

namespace fwburn {
namespace {

TEST(JobState, ProgramStartValues) {
    ResetJobState();
    char text[10];
    selectedPLC.CopyTo(text);
    EXPECT_STREQ(text, "");
    selectedComPort.CopyTo(text);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(selectedPLCIdx, 0);
    EXPECT_EQ(selectedPLCID, 0);
    EXPECT_EQ(fileLength, 0u);
    for (int32_t figure : {flashStatus.load(), progress.load(), errCounter.load(),
                           totalErrCounter.load(), elapsedTime.load()}) {
        EXPECT_EQ(figure, 0);
    }
    EXPECT_FALSE(WorkerRunning());
    EXPECT_EQ(hSerial, &ClosedDevice());
}

TEST(JobState, ShortTextNeverOverrunsItsTenBytes) {
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
        ShortText t;
        t.Set("XXXXXXXXX");
        t.Set(c.in);
        char out[10];
        std::memset(out, '#', sizeof out);
        t.CopyTo(out);
        EXPECT_STREQ(out, c.stored);
        // Zero-padded to the end: no stale character of the earlier text survives.
        for (size_t i = std::strlen(out); i < sizeof out; ++i) {
            EXPECT_EQ(out[i], '\0');
        }
    }
}

TEST(JobState, PortTextIsNeverTornWhileTheWindowRewritesIt) {
    ShortText port;
    port.Set("COM1");
    std::atomic<bool> stop{false};
    std::thread window([&] {
        for (int i = 0; !stop.load(); ++i) {
            port.Set(i % 2 == 0 ? "COM123456" : "USB");
        }
    });
    for (int i = 0; i < 20000; ++i) {
        char seen[10];
        port.CopyTo(seen);
        const std::string s = seen;
        ASSERT_TRUE(s == "COM1" || s == "COM123456" || s == "USB") << s;
    }
    stop = true;
    window.join();
}

TEST(JobState, OneWorkerAtATime) {
    ResetJobState();
    EXPECT_TRUE(TryClaimWorker());
    EXPECT_TRUE(WorkerRunning());
    EXPECT_FALSE(TryClaimWorker());
    ReleaseWorker();
    EXPECT_TRUE(TryClaimWorker());
    ReleaseWorker();

    // Many starters at once: exactly one wins.
    std::atomic<int> winners{0};
    std::vector<std::thread> starters;
    for (int i = 0; i < 8; ++i) {
        starters.emplace_back([&] {
            if (TryClaimWorker()) {
                ++winners;
            }
        });
    }
    for (auto& t : starters) {
        t.join();
    }
    EXPECT_EQ(winners, 1);
    ReleaseWorker();
}

TEST(JobState, SelectingARowSetsIndexAndIdTogether) {
    ResetJobState();
    EXPECT_TRUE(SelectModelRow(18));
    EXPECT_EQ(selectedPLCIdx, 18);
    EXPECT_EQ(selectedPLCID, 0x3010);
    for (int bad : {-1, kModelCount}) {
        EXPECT_FALSE(SelectModelRow(bad));
        EXPECT_EQ(selectedPLCIdx, 18);
    }
}

TEST(JobState, FiguresCountAcrossThreads) {
    ResetJobState();
    totalErrCounter = 0;
    std::thread worker([] {
        for (int i = 0; i < 1000; ++i) {
            totalErrCounter += 1;
        }
    });
    worker.join();
    EXPECT_EQ(totalErrCounter, 1000);
    ResetJobState();
    EXPECT_EQ(totalErrCounter, 0);
}

}  // namespace
}  // namespace fwburn

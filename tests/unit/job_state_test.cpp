#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "catalogue/job_state.hpp"
#include "link/device.hpp"
#include "protocol/transfer.hpp"
#include "tests/support/fake_device.hpp"

namespace fwburn {
namespace {

// The values a fresh process starts with are checked by start_values_test.cpp, in a binary of
// its own; here: a reset brings every one of them back.
TEST(JobState, ResetRestoresEveryProgramStartValue) {
    test::FakeDevice device;
    const uint8_t image[4] = {1, 2, 3, 4};
    int window = 0;
    selectedPLC.Set("ZL500");
    selectedComPort.Set("COM12");
    SelectModelRow(17);
    ComSelidx = 3;
    totalComPort = 4;
    hSerial = &device;
    hGLOBAL = image;
    fin = image + 2;
    jobImage = JobImage{image, 4};
    fileLength = 4;
    ZL_fu_version = 0x10;
    paramStruct = ParamStruct{&window, &window};
    flashStatus = 2;
    progress = 50;
    errCounter = 3;
    totalErrCounter = 9;
    elapsedTime = 61;
    ASSERT_TRUE(TryClaimWorker());

    ResetJobState();

    char text[10];
    selectedPLC.CopyTo(text);
    EXPECT_STREQ(text, "");
    selectedComPort.CopyTo(text);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(selectedPLCIdx, 0);
    EXPECT_EQ(selectedPLCID, 0);
    EXPECT_EQ(ComSelidx, 0);
    EXPECT_EQ(totalComPort, 0);
    EXPECT_EQ(hGLOBAL, nullptr);
    EXPECT_EQ(fin, nullptr);
    EXPECT_EQ(jobImage.data, nullptr);
    EXPECT_EQ(jobImage.length, 0u);
    EXPECT_EQ(fileLength, 0u);
    EXPECT_EQ(ZL_fu_version, 0);
    EXPECT_EQ(paramStruct.mainWindow, nullptr);
    EXPECT_EQ(paramStruct.startButton, nullptr);
    for (int32_t figure : {flashStatus.load(), progress.load(), errCounter.load(),
                           totalErrCounter.load(), elapsedTime.load()}) {
        EXPECT_EQ(figure, 0);
    }
    EXPECT_FALSE(WorkerRunning());
    // The link is not job state: it belongs to whoever opened it, and a reset leaves it alone.
    EXPECT_EQ(hSerial, &device);
    hSerial = &ClosedDevice();
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

// The panel's thread sees the figures move while the worker is still in the middle of a transfer.
// The worker runs SendFW on a thread of its own and stops inside each write until this thread has
// seen, with the relaxed loads the painter uses, the figures that must stand at that moment. Each
// block is refused once and then taken, so the retry counters move as well.
TEST(JobState, FiguresCountAcrossThreads) {
    struct Figures {
        int32_t flashStatus, progress, errCounter, totalErrCounter;
        bool operator==(const Figures& o) const {
            return flashStatus == o.flashStatus && progress == o.progress &&
                   errCounter == o.errCounter && totalErrCounter == o.totalErrCounter;
        }
    };
    // Five blocks of 128 bytes (progress in sixths), each sent twice, then the EOT.
    const Figures want[] = {
        {2, 0, 0, 0},  {2, 0, 1, 1},  {2, 16, 0, 1}, {2, 16, 1, 2}, {2, 33, 0, 2}, {2, 33, 1, 3},
        {2, 50, 0, 3}, {2, 50, 1, 4}, {2, 66, 0, 4}, {2, 66, 1, 5}, {2, 83, 0, 5},
    };
    const int steps = static_cast<int>(sizeof want / sizeof want[0]);

    ResetJobState();
    SelectModelRow(FindModelRow("MN6"));
    std::vector<uint8_t> image(640);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 7);
    }
    OpenImage(image.data(), static_cast<uint32_t>(image.size()));

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
    std::atomic<bool> done{false};
    uint8_t result = 0xFF;
    std::thread worker([&] {
        result = SendFW(device);
        done = true;
    });
    auto release = [&](int upTo) {
        {
            std::lock_guard<std::mutex> lock(gate);
            released = upTo;
        }
        opened.notify_all();
    };

    for (int k = 0; k < steps; ++k) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        Figures seen{};
        for (;;) {
            seen = {flashStatus.load(), progress.load(), errCounter.load(), totalErrCounter.load()};
            if (seen == want[k] || std::chrono::steady_clock::now() > deadline) {
                break;
            }
            std::this_thread::yield();
        }
        EXPECT_TRUE(seen == want[k])
            << "write " << k << ": seen " << seen.flashStatus << "/" << seen.progress << "/"
            << seen.errCounter << "/" << seen.totalErrCounter;
        EXPECT_FALSE(done) << "write " << k;  // seen while the worker waits inside the write
        if (!(seen == want[k])) {
            break;
        }
        release(k + 1);
    }
    release(1000);
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(written, steps);
    EXPECT_EQ(progress, 100);
    EXPECT_EQ(totalErrCounter, 5);
    CloseFile();
    ResetJobState();
}

}  // namespace
}  // namespace fwburn

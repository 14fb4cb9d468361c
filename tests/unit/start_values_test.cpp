// The job state as a fresh process finds it. A binary of its own, with this test alone, so that
// nothing (no other test, no reset) has touched the state before it is read.
#include <gtest/gtest.h>

#include <cstring>

#include "catalogue/job_state.hpp"
#include "link/device.hpp"

namespace fwburn {
namespace {

bool AllZero(const ShortText& text) {
    char bytes[ShortText::kSize];
    std::memset(bytes, '#', sizeof bytes);
    text.CopyTo(bytes);
    for (char c : bytes) {
        if (c != '\0') {
            return false;
        }
    }
    return true;
}

TEST(JobState, ProgramStartValues) {
    EXPECT_TRUE(AllZero(selectedPLC));
    EXPECT_TRUE(AllZero(selectedComPort));
    EXPECT_EQ(selectedPLCIdx, 0);
    EXPECT_EQ(selectedPLCID, 0);
    EXPECT_EQ(ComSelidx, 0);
    EXPECT_EQ(totalComPort, 0);

    EXPECT_EQ(hSerial, &ClosedDevice());
    EXPECT_EQ(hGLOBAL, nullptr);
    EXPECT_EQ(fin, nullptr);
    EXPECT_EQ(jobImage.data, nullptr);
    EXPECT_EQ(jobImage.length, 0u);
    EXPECT_EQ(fileLength, 0u);
    EXPECT_EQ(ZL_fu_version, 0);
    EXPECT_EQ(paramStruct.mainWindow, nullptr);
    EXPECT_EQ(paramStruct.startButton, nullptr);

    EXPECT_EQ(flashStatus, 0);
    EXPECT_EQ(progress, 0);
    EXPECT_EQ(errCounter, 0);
    EXPECT_EQ(totalErrCounter, 0);
    EXPECT_EQ(elapsedTime, 0);
    EXPECT_FALSE(WorkerRunning());
}

}  // namespace
}  // namespace fwburn

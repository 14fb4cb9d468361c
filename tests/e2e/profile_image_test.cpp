// The image this build embedded for the main-CPU profile, whichever it got: the file named by
// FWBURN_CPU_IMAGE, or the stand-in the build generated without it. The bytes are the file's, the
// digest is the file's, the profile says which of the two it is, and the burn worker treats the
// build's own job accordingly: a real image is written without further ado, a stand-in only after
// the operator's yes.
//
// The test is told what to expect by its environment (FWBURN_EXPECT_STAND_IN, 1 or 0), from
// whether the image variable was set, not from the profile it checks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "burn/burn.hpp"
#include "catalogue/profile.hpp"
#include "catalogue/sha256.hpp"
#include "tests/e2e/bench.hpp"

#ifndef FWBURN_IMAGE_FILE
#error "FWBURN_IMAGE_FILE names the image file the profile embedded"
#endif
#ifndef FWBURN_IMAGE_SHA256
#error "FWBURN_IMAGE_SHA256: the digest CMake read from a given image (empty for a stand-in)"
#endif

namespace fwburn::test {
namespace {

std::vector<uint8_t> ImageFile() {
    std::ifstream in(FWBURN_IMAGE_FILE, std::ios::binary);
    EXPECT_TRUE(in.good()) << FWBURN_IMAGE_FILE;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

// 1: the build was given no image; 0: it was given one; -1: the test was not told.
int ExpectedStandIn() {
    const char* v = std::getenv("FWBURN_EXPECT_STAND_IN");
    if (v == nullptr || (std::strcmp(v, "0") != 0 && std::strcmp(v, "1") != 0)) {
        return -1;
    }
    return v[0] - '0';
}

TEST(ProfileImage, ProfileSaysWhatTheBuildWasGiven) {
    const int expected = ExpectedStandIn();
    ASSERT_NE(expected, -1) << "FWBURN_EXPECT_STAND_IN must be 0 or 1";
    EXPECT_EQ(ThisBuildProfile().standInImage, expected == 1);
    // A given image has the digest CMake read from the file at configure time.
    EXPECT_EQ(std::strlen(FWBURN_IMAGE_SHA256) == 0, expected == 1);
}

TEST(ProfileImage, EmbeddedBytesAndDigestAreTheFiles) {
    const std::vector<uint8_t> file = ImageFile();
    ASSERT_EQ(file.size(), 2076672u);  // the main-CPU image's size, stand-in or real
    const EmbeddedImage embedded = TheEmbeddedImage();
    ASSERT_NE(embedded.data, nullptr);
    ASSERT_EQ(embedded.length, file.size());
    EXPECT_EQ(std::memcmp(embedded.data, file.data(), file.size()), 0);

    char hex[65];
    Sha256Hex(Sha256(file.data(), file.size()), hex);
    EXPECT_STREQ(ThisBuildProfile().imageSha256, hex);
    if (std::strlen(FWBURN_IMAGE_SHA256) != 0) {
        EXPECT_STREQ(ThisBuildProfile().imageSha256, FWBURN_IMAGE_SHA256);
    }
}

// The build's own job, as the front ends take it, against a simulated ZL500.
TEST(ProfileImage, TheBuildsJobAgainstTheController) {
    const int expected = ExpectedStandIn();
    ASSERT_NE(expected, -1) << "FWBURN_EXPECT_STAND_IN must be 0 or 1";
    const EmbeddedImage embedded = TheEmbeddedImage();
    ASSERT_NE(embedded.data, nullptr);

    for (bool allowed : {false, true}) {
        SCOPED_TRACE(allowed ? "with the operator's yes" : "without a yes");
        Bench bench(Options("ZL500", embedded.length));
        ASSERT_TRUE(bench.update.UseThisBuild());
        bench.Prepare();
        EXPECT_EQ(bench.update.row, FindModelRow("ZL500"));
        EXPECT_EQ(bench.update.standInImage, expected == 1);
        EXPECT_FALSE(bench.update.standInAllowed);  // the front end sets it after asking
        bench.update.standInAllowed = allowed;
        bench.Run();

        ASSERT_EQ(bench.finalMessages.size(), 1u);
        if (expected == 1 && !allowed) {
            EXPECT_EQ(bench.Final().text,
                      "TEST BUILD: the built-in image is a STAND-IN, not a firmware; NOTHING was "
                      "written");
            EXPECT_EQ(bench.op.Sequence(), "DTME");
            EXPECT_EQ(bench.controller.requests(Phase::kWake), 0u);
        } else {
            EXPECT_EQ(bench.Final().text,
                      "Firmware update is SUCCESSFUL!, please REPLUG the USB cable");
            EXPECT_TRUE(bench.FlashMatches(embedded.data));
            EXPECT_EQ(bench.controller.blocksTaken(), 8096u);
            EXPECT_EQ(bench.controller.violationCount(), 0u) << bench.Violations();
        }
    }
}

}  // namespace
}  // namespace fwburn::test

// The build profile linked into this test binary (built once per profile), against the delivered
// profiles' data written out here.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "catalogue/catalogue.hpp"
#include "catalogue/profile.hpp"
#include "catalogue/sha256.hpp"

#ifndef FWBURN_TEST_PROFILE
#error "FWBURN_TEST_PROFILE names the profile this binary links"
#endif

namespace fwburn {
namespace {

struct Expected {
    const char* profile;
    const char* imageName;
    const char* model;
    const char* dateText;
    BootIdRule rule;
    uint32_t deliveredSize;
};

const Expected kDelivered[] = {
    {"cpu", "ZL500_v1.06.40_0628_01_DDRVA_odd_axis_resume.bin", "ZL500", "Date: 2019/06/28",
     BootIdRule::Cpu, 2076672},
    {"aio", "ZL500-AIO_v1.06.20_AI_4mA.BIN", "ZL500-AIO", "Date: 2019/03/15", BootIdRule::Aio,
     11056},
};

const Expected& Want() {
    for (const Expected& e : kDelivered) {
        if (std::strcmp(e.profile, FWBURN_TEST_PROFILE) == 0) {
            return e;
        }
    }
    ADD_FAILURE() << "unknown profile " << FWBURN_TEST_PROFILE;
    return kDelivered[0];
}

TEST(Profile, ConstantsOfTheDeliveredProfile) {
    const BuildProfile& p = ThisBuildProfile();
    EXPECT_STREQ(p.name, Want().profile);
    EXPECT_STREQ(p.imageName, Want().imageName);
    EXPECT_STREQ(p.dateText, Want().dateText);
    EXPECT_EQ(std::strlen(p.dateText), 16u);
    EXPECT_EQ(p.bootIdRule, Want().rule);
}

TEST(Profile, ImageNameSelectsTheModel) {
    char model[10];
    ASSERT_TRUE(ImageNameModel(ThisBuildProfile().imageName, model));
    EXPECT_STREQ(model, Want().model);
    EXPECT_GE(FindModelRow(model), 0);
}

TEST(Profile, EmbeddedImageMatchesTheDigestTheBuildRecorded) {
    const EmbeddedImage image = TheEmbeddedImage();
    ASSERT_NE(image.data, nullptr);
    EXPECT_TRUE(Sha256Matches(image.data, image.length, ThisBuildProfile().imageSha256));
    // The image is sendable for its model: within the limit, not refused.
    EXPECT_EQ(ImageRefusal(FindModelRow(Want().model), image.length), nullptr);
}

TEST(Profile, StandInImageHasTheDeliveredSizeAndNoRepeats) {
    if (!ThisBuildProfile().standInImage) {
        GTEST_SKIP() << "a real image was supplied";
    }
    const EmbeddedImage image = TheEmbeddedImage();
    EXPECT_EQ(image.length, Want().deliveredSize);
    for (uint32_t i = 2; i < image.length; ++i) {
        ASSERT_FALSE(image.data[i] == image.data[i - 1] && image.data[i] == image.data[i - 2])
            << "run of one value at " << i;
    }
    // Every 128-byte block is unique, so a repeated or shifted block changes what is received.
    std::set<std::string> blocks;
    for (uint32_t at = 0; at + 128 <= image.length; at += 128) {
        EXPECT_TRUE(
            blocks.insert(std::string(reinterpret_cast<const char*>(image.data + at), 128)).second)
            << "block at " << at;
    }
}

}  // namespace
}  // namespace fwburn

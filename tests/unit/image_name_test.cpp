#include <gtest/gtest.h>

#include <cstring>

#include "catalogue/catalogue.hpp"
#include "catalogue/profile.hpp"

namespace fwburn {
namespace {

TEST(ImageNameModel, PrefixBeforeTheFirstUnderscoreBoundedToNineCharacters) {
    struct Case {
        const char* imageName;
        bool fits;
        const char* model;
        int row;  // catalogue row of the prefix, -1 when it names no model
    };
    const Case cases[] = {
        {"ZL500_v1.06.40_0628_01_DDRVA_odd_axis_resume.bin", true, "ZL500", 17},
        {"ZL500-AIO_v1.06.20_AI_4mA.BIN", true, "ZL500-AIO", 18},
        {"RV-KT-WD8_x", true, "RV-KT-WD8", 13},
        {"HU26", true, "HU26", 19},  // no underscore: the whole name
        {"_leading", true, "", -1},
        {"", true, "", -1},
        {"zl500_v1", true, "zl500", -1},
        // A cut prefix would name ZL500-AIO: an overlong prefix names nothing instead.
        {"ZL500-AIOX_v1.bin", false, "", -1},
        {"ZL500-AIO-EXTRA-LONG-PREFIX_v1.bin", false, "", -1},
        {"ABCDEFGHI_", true, "ABCDEFGHI", -1},
        {"ABCDEFGHIJ", false, "", -1},
    };
    for (const Case& c : cases) {
        char out[10];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(ImageNameModel(c.imageName, out), c.fits) << c.imageName;
        EXPECT_STREQ(out, c.model) << c.imageName;
        EXPECT_EQ(out[9], '\0');
        EXPECT_EQ(FindModelRow(out), c.row) << c.imageName;
    }
    char out[10];
    EXPECT_FALSE(ImageNameModel(nullptr, out));
    EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace fwburn

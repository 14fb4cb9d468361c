// Hex digits as frames (upper case only) and traces (either case) read them.
#include <gtest/gtest.h>

#include <cstring>

#include "link/hex.hpp"

namespace fwburn {
namespace {

// Every byte value against the digits spelled out, in both modes.
TEST(HexNibble, TakesExactlyTheDigitsOfItsMode) {
    const char upper[] = "0123456789ABCDEF";
    const char lower[] = "0123456789abcdef";
    for (int c = 0; c < 256; ++c) {
        SCOPED_TRACE(c);
        const char* u = c != 0 ? std::strchr(upper, c) : nullptr;
        const char* l = c != 0 ? std::strchr(lower, c) : nullptr;
        const int wantUpper = u != nullptr ? static_cast<int>(u - upper) : -1;
        const int wantEither = wantUpper >= 0 ? wantUpper
                               : l != nullptr ? static_cast<int>(l - lower)
                                              : -1;
        EXPECT_EQ(HexNibble(static_cast<uint8_t>(c), HexLetters::kUpperOnly), wantUpper);
        EXPECT_EQ(HexNibble(static_cast<uint8_t>(c), HexLetters::kEitherCase), wantEither);
    }
    for (int v = 0; v < 16; ++v) {
        EXPECT_EQ(HexNibble(static_cast<uint8_t>(kHexDigits[v]), HexLetters::kUpperOnly), v);
    }
    EXPECT_EQ(std::strlen(kHexDigits), 16u);
}

}  // namespace
}  // namespace fwburn

// Hex digits, for the ASCII frames and the link trace. Frames take upper case only; a trace is
// read by people and may have been edited by them, so it takes either case.
#pragma once

#include <cstdint>

namespace fwburn {

// The digit of each nibble: written in upper case everywhere.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

enum class HexLetters { kUpperOnly, kEitherCase };

// The value of one hex digit, or -1 for a character that is no digit under `letters`.
constexpr int HexNibble(uint8_t c, HexLetters letters) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (letters == HexLetters::kEitherCase && c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace fwburn

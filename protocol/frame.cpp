#include "protocol/frame.hpp"

#include "link/hex.hpp"

namespace fwburn {

namespace {

// Replies are accepted in upper case only: lower-case letters are not hex digits here.
int HexValue(uint8_t c) {
    return HexNibble(c, HexLetters::kUpperOnly);
}

}  // namespace

uint8_t Lrc(const uint8_t* bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return static_cast<uint8_t>(0u - sum);
}

size_t EncodeFrame(const uint8_t* bytes, size_t count, char* out, size_t capacity) {
    const size_t length = 2 * count + 5;
    if (capacity < length) {
        return 0;
    }
    size_t at = 0;
    out[at++] = ':';
    const uint8_t lrc = Lrc(bytes, count);
    for (size_t i = 0; i <= count; ++i) {
        const uint8_t b = i < count ? bytes[i] : lrc;
        out[at++] = kHexDigits[b >> 4];
        out[at++] = kHexDigits[b & 0x0F];
    }
    out[at++] = '\r';
    out[at++] = '\n';
    return at;
}

uint8_t CheckLRC(uint8_t* text, uint8_t count) {
    if (count % 2 != 0) {
        return 1;
    }
    uint8_t sum = 0;
    const uint8_t* read = text;
    uint8_t* write = text;
    for (uint8_t remaining = count; remaining != 0;
         remaining = static_cast<uint8_t>(remaining - 2)) {
        const int high = HexValue(*read++);
        if (high < 0) {
            return 1;
        }
        const int low = HexValue(*read++);
        if (low < 0) {
            return 1;
        }
        // The write position trails the read position by at least one, so decoding in place is
        // safe.
        const uint8_t byte = static_cast<uint8_t>(high * 16 + low);
        *write++ = byte;
        sum = static_cast<uint8_t>(sum + byte);
    }
    return sum;
}

}  // namespace fwburn

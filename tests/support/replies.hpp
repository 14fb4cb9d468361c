// Controller replies for unit tests, framed here with the tests' own LRC arithmetic.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwburn::test {

struct ReplyOptions {
    bool lowerCase = false;
    int lrcDelta = 0;  // added to the right LRC: non-zero gives a reply with a wrong LRC
};

inline std::string AsciiReply(const std::vector<uint8_t>& bytes, ReplyOptions options = {}) {
    const char* digits = options.lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
    unsigned sum = 0;
    std::string text = ":";
    for (uint8_t b : bytes) {
        sum += b;
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    const unsigned lrc = (0x100 - (sum & 0xFF) + options.lrcDelta) & 0xFF;
    text += digits[lrc >> 4];
    text += digits[lrc & 15];
    return text + "\r\n";
}

// 19-character reply to a function-0x64 request: bytes 0..3 echo the request, then status,
// and two more bytes (model ID, or error class and state).
inline std::string CommandReply(uint8_t status, uint8_t b5 = 0, uint8_t b6 = 0,
                                ReplyOptions options = {}) {
    return AsciiReply({0x00, 0x64, 0x01, 0x59, status, b5, b6}, options);
}

// An error reply: status NAK, error class and state.
inline std::string ErrorReply(uint8_t errorClass, uint8_t state, ReplyOptions options = {}) {
    return CommandReply(0x15, errorClass, state, options);
}

}  // namespace fwburn::test

// The reply check written again, plainly, for the fuzz targets' invariants: a reply is good when
// every character between ":" and CR LF is an upper-case hex digit and the bytes sum to 0.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace fwburn::fuzz {

inline int Nibble(uint8_t c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The decoded bytes of a complete reply of `length` characters, or nothing when it is no good.
inline std::optional<std::vector<uint8_t>> GoodReply(const std::vector<uint8_t>& reply,
                                                     size_t length) {
    if (reply.size() != length || length < 3 || (length - 3) % 2 != 0)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    unsigned sum = 0;
    for (size_t i = 1; i + 2 < length; i += 2) {
        const int hi = Nibble(reply[i]);
        const int lo = Nibble(reply[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
        sum += bytes.back();
    }
    if (sum % 256 != 0)
        return std::nullopt;
    return bytes;
}

}  // namespace fwburn::fuzz

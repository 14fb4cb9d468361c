// CheckLRC on any text and any count: reads only the counted characters, accepts exactly the
// upper-case hex texts whose bytes sum to 0, and leaves decoded bytes then untouched text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/reference_frame.hpp"
#include "protocol/frame.hpp"

using fwburn::fuzz::Nibble;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint8_t count = data[0];
    const size_t textSize = size - 1 < count ? size - 1 : count;
    if (textSize != count) {
        return 0;  // callers always hand over at least `count` characters
    }
    // Exactly `count` bytes on the heap: a read past them is caught.
    std::vector<uint8_t> text(data + 1, data + 1 + count);
    const std::vector<uint8_t> received = text;
    const uint8_t result = fwburn::CheckLRC(text.data(), count);

    bool valid = count % 2 == 0;
    unsigned sum = 0;
    size_t decoded = 0;
    for (size_t i = 0; valid && i + 1 < count; i += 2) {
        const int hi = Nibble(received[i]);
        const int lo = Nibble(received[i + 1]);
        if (hi < 0 || lo < 0) {
            valid = false;
            break;
        }
        sum += static_cast<unsigned>(hi * 16 + lo);
        ++decoded;
    }
    const bool accepted = valid && sum % 256 == 0;
    if ((result == 0) != accepted) {
        abort();
    }
    if (count % 2 == 0) {
        for (size_t i = 0; i < decoded; ++i) {
            const int value = Nibble(received[2 * i]) * 16 + Nibble(received[2 * i + 1]);
            if (text[i] != value)
                abort();
        }
        for (size_t i = decoded; i < count; ++i) {
            if (text[i] != received[i])
                abort();
        }
    } else if (text != received) {
        abort();  // an odd count is refused untouched
    }
    return 0;
}

#include "protocol/request_name.hpp"

#include <cstring>

#include "protocol/boot_words.hpp"
#include "protocol/requests.hpp"

namespace fwburn {

namespace {

// The request's name as one word: "mode query (analog module)" becomes
// "mode-query-analog-module".
std::string Slug(const char* name) {
    std::string out;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c == ' ') {
            out += '-';
        } else if (*c != '(' && *c != ')') {
            out += *c;
        }
    }
    return out;
}

// A block frame: STX, the block number and its complement, 256 or 128 data bytes, the CRC.
constexpr uint32_t kFrameOverhead = 5;
constexpr uint32_t kWideBlockFrame = 256 + kFrameOverhead;
constexpr uint32_t kNarrowBlockFrame = 128 + kFrameOverhead;

}  // namespace

std::string RequestName(const uint8_t* data, uint32_t length) {
    for (size_t i = 0; i < kAllAppRequestCount; ++i) {
        const AppRequest& r = *kAllAppRequests[i];
        if (r.length == length && std::memcmp(r.text, data, length) == 0) {
            return Slug(r.name);
        }
    }
    for (const BootWord& w : kAllBootWords) {
        if (w.length == length && std::memcmp(w.bytes, data, length) == 0) {
            return w.name;
        }
    }
    if (length == 1 && data[0] == kEot) {
        return "EOT";
    }
    if ((length == kWideBlockFrame || length == kNarrowBlockFrame) && data[0] == kStx) {
        return "block-" + std::to_string(data[1]);
    }
    return "unknown";
}

}  // namespace fwburn

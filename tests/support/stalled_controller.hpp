// A controller for the scripted device that stops when one request reaches it and goes on a while
// later, answering every request it holds, in order: its late replies come one after the other,
// after the host's resends, as a real controller's do.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>

#include "tests/support/fake_device.hpp"

namespace fwburn::test {

struct StalledController {
    FakeDevice& device;
    std::string stallOn;  // the request at whose first arrival it stops
    int64_t stallMs;
    std::function<Bytes(const std::string& request)> answer;
    int64_t charMs = 1;  // 9600 baud
    int64_t resumeAt = -1;
    int64_t lineFree = 0;

    // Each reply starts 5 ms after its request or after the reply before it, not before the
    // controller goes on.
    Reaction operator()(const Bytes& written) {
        const int64_t now = device.nowMs();
        if (resumeAt < 0 && ToText(written) == stallOn) {
            resumeAt = now + stallMs;
        }
        int64_t at = std::max(now + 5, lineFree + 5);
        if (now < resumeAt) {
            at = std::max(at, resumeAt);
        }
        Reaction r;
        for (uint8_t b : answer(ToText(written))) {
            r.arrivals.push_back({at - now, Bytes{b}});
            at += charMs;
        }
        lineFree = at;
        return r;
    }
};

}  // namespace fwburn::test

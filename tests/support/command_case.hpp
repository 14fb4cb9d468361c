// Shared pieces of the command tables: a device whose writes are answered from a script, with
// errCounter and progress noted as each request goes out.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "protocol/channel.hpp"
#include "tests/support/fake_device.hpp"
#include "tests/support/replies.hpp"
#include "tests/support/test_name.hpp"

namespace fwburn::test {

// The time-outs every application and bootloader command sets before its request.
inline const Timeouts kCommandTimeouts{0xFFFFFFFF, 0, 3000, 0, 3000};

// The application's error reply of class `cls` at state `state`.
inline Reaction Err(uint8_t cls, uint8_t state, ReplyOptions o = {}) {
    return Reply(ErrorReply(cls, state, o));
}

inline std::vector<Reaction> Times(int n, const Reaction& r) {
    return std::vector<Reaction>(n, r);
}

inline std::vector<Reaction> Then(std::vector<Reaction> a, const std::vector<Reaction>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A device answering from `script`, then with silence; the figures its commands move, and those
// figures noted at every write.
struct ScriptedRun {
    FakeDevice device;
    Figures figures;
    Progress progress{figures};
    Channel channel{device, progress};
    std::deque<Reaction> script;
    std::vector<int> errAtWrites;
    std::vector<int> progressAtWrites;

    explicit ScriptedRun(const std::vector<Reaction>& reactions, int32_t totalErrCounter = 0)
        : script(reactions.begin(), reactions.end()) {
        figures.totalErrCounter = totalErrCounter;
        device.fallback = [this](const Bytes&) {
            errAtWrites.push_back(figures.errCounter);
            progressAtWrites.push_back(figures.progress);
            if (script.empty()) {
                return Silence();
            }
            Reaction r = script.front();
            script.pop_front();
            return r;
        };
    }
    ScriptedRun(const ScriptedRun&) = delete;
    ScriptedRun& operator=(const ScriptedRun&) = delete;
};

// The catalogue row of a model named in a table; fails the test when there is none.
inline int Row(const char* name) {
    const int row = FindModelRow(name);
    EXPECT_GE(row, 0) << name;
    return row;
}

// The sizes asked by the reads that follow a request (not those listening for late replies).
inline std::vector<uint32_t> ReplyReadSizes(const FakeDevice& device) {
    std::vector<uint32_t> sizes;
    const auto& calls = device.calls();
    for (size_t i = 1; i < calls.size(); ++i) {
        if (calls[i].kind == Call::kRead && calls[i - 1].kind == Call::kWrite) {
            sizes.push_back(calls[i].requested);
        }
    }
    return sizes;
}

}  // namespace fwburn::test

// Shared pieces of the command tables: a device whose writes are answered from a script, with
// errCounter and progress noted as each request goes out.
#pragma once

#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "catalogue/job_state.hpp"
#include "tests/support/fake_device.hpp"
#include "tests/support/test_name.hpp"

namespace fwburn::test {

inline std::vector<Reaction> Times(int n, const Reaction& r) {
    return std::vector<Reaction>(n, r);
}

inline std::vector<Reaction> Then(std::vector<Reaction> a, const std::vector<Reaction>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A device answering from `script`, then with silence; notes the figures at every write.
struct ScriptedRun {
    FakeDevice device;
    std::deque<Reaction> script;
    std::vector<int> errAtWrites;
    std::vector<int> progressAtWrites;

    explicit ScriptedRun(const std::vector<Reaction>& reactions)
        : script(reactions.begin(), reactions.end()) {
        device.fallback = [this](const Bytes&) {
            errAtWrites.push_back(errCounter);
            progressAtWrites.push_back(progress);
            if (script.empty()) {
                return Silence();
            }
            Reaction r = script.front();
            script.pop_front();
            return r;
        };
    }
};

inline void SelectModel(const char* name) {
    SelectModelRow(FindModelRow(name));
}

}  // namespace fwburn::test

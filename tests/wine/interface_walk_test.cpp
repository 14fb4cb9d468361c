// The bounded walk over a device-interface list: it ends at the end of the list, at the
// interface wanted, on a list that keeps failing, and never looks past its index limit.
#include <gtest/gtest.h>

#include <vector>

#include "link/win32/interface_walk.hpp"

namespace fwburn {
namespace {

using S = InterfaceStep;

// A list that gives its steps in order and then, past them, `rest` for every further index. It
// gives up (End) after far more calls than any bound, so an unbounded walk fails the test instead
// of running for hours.
struct ScriptedList {
    std::vector<S> steps;
    S rest;
    std::vector<uint32_t> asked;

    S operator()(uint32_t index) {
        asked.push_back(index);
        if (asked.size() > 100000) {
            return S::End;
        }
        return index < steps.size() ? steps[index] : rest;
    }
};

TEST(InterfaceWalk, EndsAtTheEndTheFindOrAFailingList) {
    const std::vector<S> eightFailures(kMaxFailuresInARow, S::Failed);
    std::vector<S> sevenFailuresThenFound(kMaxFailuresInARow - 1, S::Failed);
    sevenFailuresThenFound.push_back(S::Found);
    std::vector<S> failuresBrokenByAPass{
        S::Failed, S::Failed, S::Failed, S::Failed, S::Failed, S::Failed, S::Failed, S::Passed,
        S::Failed, S::Failed, S::Failed, S::Failed, S::Failed, S::Failed, S::Failed, S::Found};
    const struct {
        const char* name;
        std::vector<S> steps;
        S rest;
        bool found;
        size_t asked;
    } cases[] = {
        {"empty list", {}, S::End, false, 1},
        {"found third", {S::Passed, S::Passed, S::Found}, S::End, true, 3},
        {"end after two others", {S::Passed, S::Passed}, S::End, false, 3},
        {"every index fails", {}, S::Failed, false, kMaxFailuresInARow},
        {"one failure, then the end", {S::Failed}, S::End, false, 2},
        {"failures short of the limit, then found", sevenFailuresThenFound, S::End, true,
         kMaxFailuresInARow},
        {"a pass restarts the count of failures", failuresBrokenByAPass, S::End, true, 16},
        {"others, then a list that fails",
         {S::Passed, S::Passed},
         S::Failed,
         false,
         2 + kMaxFailuresInARow},
        {"endless others", {}, S::Passed, false, kMaxInterfaceIndex},
    };
    for (const auto& c : cases) {
        ScriptedList list{c.steps, c.rest, {}};
        EXPECT_EQ(WalkInterfaces(list), c.found) << c.name;
        EXPECT_EQ(list.asked.size(), c.asked) << c.name;
        for (size_t i = 0; i < list.asked.size(); ++i) {
            ASSERT_EQ(list.asked[i], i) << c.name;  // every index once, in order
        }
    }
    EXPECT_LE(kMaxInterfaceIndex, 4096u);  // a walk stays short even when each step is slow
}

}  // namespace
}  // namespace fwburn

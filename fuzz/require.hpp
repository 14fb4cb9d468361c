// A fuzz target's invariant: a violation aborts, which libFuzzer reports with the input.
#pragma once

#include <cstdlib>

namespace fwburn::fuzz {

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace fwburn::fuzz

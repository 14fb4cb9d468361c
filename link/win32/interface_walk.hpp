// The walk over the indices of a device-interface list, bounded: a list that keeps failing with
// an error other than "no more items" ends the walk instead of running through 2^31 indices.
// No platform header here, so the rule is tested on every platform.
#pragma once

#include <cstdint>

namespace fwburn {

// What one index of the list gave.
enum class InterfaceStep {
    Found,   // the interface wanted: the walk ends with it
    Passed,  // an interface, not the one wanted
    Failed,  // the list could not give this index (any error but the end of the list)
    End,     // no more items
};

// More interfaces than any workstation has; the walk never looks further.
constexpr uint32_t kMaxInterfaceIndex = 1024;
// Failures in a row after which the list is taken as broken.
constexpr uint32_t kMaxFailuresInARow = 8;

// Calls step(index) for index 0, 1, 2, ... until it gives Found or End, kMaxFailuresInARow
// Failed in a row, or kMaxInterfaceIndex indices have been looked at. True when it gave Found.
template <typename Step>
bool WalkInterfaces(Step&& step) {
    uint32_t failuresInARow = 0;
    for (uint32_t index = 0; index < kMaxInterfaceIndex; ++index) {
        switch (step(index)) {
            case InterfaceStep::Found:
                return true;
            case InterfaceStep::End:
                return false;
            case InterfaceStep::Failed:
                if (++failuresInARow >= kMaxFailuresInARow) {
                    return false;
                }
                break;
            case InterfaceStep::Passed:
                failuresInARow = 0;
                break;
        }
    }
    return false;
}

}  // namespace fwburn

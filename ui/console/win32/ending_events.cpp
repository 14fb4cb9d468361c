#include "ui/console/win32/ending_events.hpp"

namespace fwburn::console {

namespace {

// The values of wincon.h, which this file does not include.
constexpr unsigned long kCtrlC = 0;
constexpr unsigned long kCtrlBreak = 1;
constexpr unsigned long kLogoff = 5;
constexpr unsigned long kShutdown = 6;

}  // namespace

Ending EndingForControlEvent(unsigned long event) {
    switch (event) {
        case kCtrlC:
            return {"Ctrl+C", 130};
        case kCtrlBreak:
            return {"Ctrl+Break", 149};
        case kLogoff:
            return {"logoff", 143};
        case kShutdown:
            return {"shutdown", 143};
        default:
            return {"console close", 129};
    }
}

Ending BrokenPipeEnding() {
    return {"broken pipe", 141};
}

bool EndsOnReturn(unsigned long event) {
    return event != kCtrlC && event != kCtrlBreak;
}

}  // namespace fwburn::console

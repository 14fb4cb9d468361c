#include "ui/console/win32/control_events.hpp"

#include <atomic>

#include "ui/console/win32/ending_events.hpp"

namespace fwburn::console {

namespace {

constexpr unsigned long kNone = ~0ul;
std::atomic<unsigned long> gEvent{kNone};
HANDLE gCame = nullptr;

BOOL WINAPI OnControlEvent(DWORD event) {
    unsigned long none = kNone;
    gEvent.compare_exchange_strong(none, event);
    SetEvent(gCame);
    if (EndsOnReturn(event)) {
        Sleep(INFINITE);  // the main thread ends the process with the event's status
    }
    return TRUE;
}

}  // namespace

bool TakeControlEvents() {
    if (gCame == nullptr) {
        gCame = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    return gCame != nullptr && SetConsoleCtrlHandler(OnControlEvent, TRUE) != 0;
}

HANDLE ControlEventObject() {
    return gCame;
}

bool ControlEventCame(unsigned long& event) {
    event = gEvent;
    return event != kNone;
}

}  // namespace fwburn::console

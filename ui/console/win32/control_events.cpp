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

// Windows calls no console handler at logoff or shutdown in a process that has user32 loaded,
// as SetupAPI has: a hidden top-level window takes the session's end there instead, as the same
// event. Its end waits, as the handler does, for the main thread to end the process.
LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ENDSESSION && wParam != 0) {
        OnControlEvent((lParam & ENDSESSION_LOGOFF) != 0 ? CTRL_LOGOFF_EVENT : CTRL_SHUTDOWN_EVENT);
    }
    return DefWindowProcW(window, message, wParam, lParam);  // the session may end: TRUE
}

DWORD WINAPI SessionWindow(void*) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = OnSessionMessage;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"fwburn-console-session";
    if (RegisterClassW(&windowClass) == 0 ||
        CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                        windowClass.hInstance, nullptr) == nullptr) {
        return 0;  // the console handler alone, as before
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

bool TakeControlEvents() {
    if (gCame == nullptr) {
        gCame = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (HANDLE thread = CreateThread(nullptr, 0, SessionWindow, nullptr, 0, nullptr)) {
            CloseHandle(thread);
        }
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

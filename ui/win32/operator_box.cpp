#include "ui/win32/operator_box.hpp"

#include <initializer_list>

#include "ui/win32/key_filter.hpp"

namespace fwburn {

namespace {

// One box at a time per thread: MessageBoxA does not return before its box is gone.
struct BoxGuard {
    HHOOK hook = nullptr;
    HHOOK keys = nullptr;
    HWND box = nullptr;
    WNDPROC boxProcedure = nullptr;
    const std::atomic<bool>* stop = nullptr;
    bool closeCommand = false;  // inside the box's own SC_CLOSE, which sends it WM_CLOSE
};
thread_local BoxGuard guard;

LRESULT CALLBACK GuardedBox(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    BoxGuard& g = guard;
    const WNDPROC inner = g.boxProcedure;
    if (message == WM_CLOSE && !g.closeCommand && !g.stop->load(std::memory_order_acquire)) {
        return 0;  // posted from outside: no answer of the operator's
    }
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        g.closeCommand = true;
        const LRESULT result = CallWindowProcA(inner, box, message, wParam, lParam);
        g.closeCommand = false;
        return result;
    }
    return CallWindowProcA(inner, box, message, wParam, lParam);
}

// Takes the box over as it is made: the first dialog created on this thread while the hook lives.
LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam) {
    BoxGuard& g = guard;
    if (code == HCBT_CREATEWND && g.box == nullptr) {
        const HWND w = reinterpret_cast<HWND>(wParam);
        char cls[16] = {};
        GetClassNameA(w, cls, sizeof cls);
        if (lstrcmpA(cls, "#32770") == 0) {
            g.box = w;
            g.boxProcedure = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrA(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GuardedBox)));
        }
    }
    return CallNextHookEx(g.hook, code, wParam, lParam);
}

// A key held from before the box, such as the Enter on Start Burn that began the update, repeats
// into it: the first Enter would answer it before it could be read. Only a fresh press answers.
LRESULT CALLBACK DropHeldKeys(int code, WPARAM wParam, LPARAM lParam) {
    const auto* msg = reinterpret_cast<const MSG*>(lParam);
    if (code == MSGF_DIALOGBOX && IsKeyRepeat(*msg)) {
        return TRUE;
    }
    return CallNextHookEx(guard.keys, code, wParam, lParam);
}

}  // namespace

int OperatorMessageBox(HWND owner, const char* text, const char* caption, UINT style,
                       const std::atomic<bool>& stop) {
    BoxGuard& g = guard;
    g = BoxGuard{};
    g.stop = &stop;
    // Without the hook the box is a plain one: better than no message at all.
    g.hook = SetWindowsHookExA(WH_CBT, WatchCreation, nullptr, GetCurrentThreadId());
    g.keys = SetWindowsHookExA(WH_MSGFILTER, DropHeldKeys, nullptr, GetCurrentThreadId());
    const int answer = MessageBoxA(owner, text, caption, style);
    for (HHOOK hook : {g.hook, g.keys}) {
        if (hook != nullptr) {
            UnhookWindowsHookEx(hook);
        }
    }
    g = BoxGuard{};
    return answer;
}

}  // namespace fwburn

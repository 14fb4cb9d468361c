#include "ui/win32/key_filter.hpp"

namespace fwburn {

namespace {

constexpr WPARAM kEscapeChar = 0x1B;
constexpr WPARAM kCtrlBreakChar = 0x03;  // what the key translation makes of Ctrl+Break

bool IsDroppedKey(const MSG& msg) {
    switch (msg.message) {
        case WM_KEYDOWN:
            // A held Enter is one press: its repeats would be Browse, and after the press that
            // started an update, open the file dialog over it.
            if (msg.wParam == VK_RETURN && IsKeyRepeat(msg)) {
                return true;
            }
            [[fallthrough]];
        case WM_KEYUP:
            return msg.wParam == VK_ESCAPE || msg.wParam == VK_CANCEL;
        case WM_CHAR:
            return msg.wParam == kEscapeChar || msg.wParam == kCtrlBreakChar;
        default:
            return false;
    }
}

bool IsOpenDropDownList(HWND focus, HWND mainWindow) {
    if (focus == nullptr || GetParent(focus) != mainWindow) {
        return false;
    }
    char cls[16] = {};
    GetClassNameA(focus, cls, sizeof cls);
    return lstrcmpiA(cls, "ComboBox") == 0 && SendMessageA(focus, CB_GETDROPPEDSTATE, 0, 0) != 0;
}

}  // namespace

KeyRoute RouteKeyMessage(const MSG& msg, HWND mainWindow, HWND focus) {
    if (!IsDroppedKey(msg)) {
        return KeyRoute::Dialog;
    }
    // An open list takes Escape to close itself, with the selection it had: that never makes a
    // command for the window.
    if (msg.hwnd == focus && msg.message != WM_CHAR && IsOpenDropDownList(focus, mainWindow)) {
        return KeyRoute::Control;
    }
    return KeyRoute::Drop;
}

bool IsKeyRepeat(const MSG& msg) {
    constexpr LPARAM kWasDown = LPARAM{1} << 30;
    return (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) &&
           (msg.lParam & kWasDown) != 0;
}

bool IsDroppedKeyPress(const MSG& msg) {
    return msg.message == WM_KEYDOWN && (msg.wParam == VK_ESCAPE || msg.wParam == VK_CANCEL);
}

}  // namespace fwburn

// Escape and Ctrl+Break never reach the dialog keyboard handling: it turns both into command 2
// (IDCANCEL), which is also the Start Burn button's number, sent with the button as its sender, so
// the window could not tell either key from a click. Nor do the repeats of a held Enter.
#pragma once

#include <windows.h>

namespace fwburn {

enum class KeyRoute {
    Dialog,   // an ordinary message: the dialog keyboard handling, then the window procedures
    Drop,     // Escape, Ctrl+Break, a repeated Enter: nobody sees it
    Control,  // one of those for an open drop-down list: only the list sees it
};

// Where a message taken from the queue goes. `focus` is the window with the keyboard focus.
KeyRoute RouteKeyMessage(const MSG& msg, HWND mainWindow, HWND focus);

// Whether the message is a key press (not a release or character) of Escape or Ctrl+Break.
bool IsDroppedKeyPress(const MSG& msg);

// Whether the message is a key press repeated while its key is held (the keyboard's auto-repeat).
bool IsKeyRepeat(const MSG& msg);

}  // namespace fwburn

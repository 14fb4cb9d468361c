// The burn worker's message boxes answer to the operator alone. A program that closes ours
// without /F (taskkill, a session tool) posts WM_CLOSE to every top-level window of the process,
// these boxes included: a box with only OK takes that as its OK, so "press OK to continue" would
// go on to erase a controller the operator never power-cycled, and the outcome would go unread.
#pragma once

#include <windows.h>

#include <atomic>

namespace fwburn {

// MessageBoxA on the calling thread whose box takes a close only from its own close box, Alt+F4
// or its system menu, or once `stop` is set (the window stopping its worker closes the box).
// Escape and the buttons answer it as in any message box; a key held from before it (its
// repeats) does not.
int OperatorMessageBox(HWND owner, const char* text, const char* caption, UINT style,
                       const std::atomic<bool>& stop);

}  // namespace fwburn

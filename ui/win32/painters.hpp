// The status panel painters: each erases its own field and draws it anew from the job state, so
// the whole panel can be drawn at every 100 ms tick with no memory of the last picture. Every
// graphics object a painter creates is released before it returns.
#pragma once

#include <windows.h>

namespace fwburn {

void DisplayElapsedTime(HWND window, HDC dc);
void DisplayProgressBar(HWND window, HDC dc);
void DisplayStatus(HWND window, HDC dc);
void DisplayErrCounter(HWND window, HDC dc);
void DisplayDate(HWND window, HDC dc);
void DisplayLogo(HWND window, HDC dc);

// The panel at a tick of timer 6 (with the logo) or on WM_PAINT (without it).
void PaintPanel(HWND window, HDC dc, bool withLogo);

}  // namespace fwburn

// The status panel painters: each erases its own field and draws it anew from the update's figures,
// so the whole panel can be drawn at every 100 ms tick with no memory of the last picture. Every
// graphics object a painter creates is released before it returns.
#pragma once

#include <windows.h>

namespace fwburn {

struct Figures;

void DisplayElapsedTime(HWND window, HDC dc, const Figures& figures);
void DisplayProgressBar(HWND window, HDC dc, const Figures& figures);
void DisplayStatus(HWND window, HDC dc, const Figures& figures);
void DisplayErrCounter(HWND window, HDC dc, const Figures& figures);
void DisplayDate(HWND window, HDC dc);
void DisplayLogo(HWND window, HDC dc);

// The panel at a tick of timer 6 (with the logo) or on WM_PAINT (without it), from the figures of
// the window's update.
void PaintPanel(HWND window, HDC dc, const Figures& figures, bool withLogo);

}  // namespace fwburn

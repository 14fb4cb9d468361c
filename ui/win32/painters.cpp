#include "ui/win32/painters.hpp"

#include <cstring>

#include "catalogue/profile.hpp"
#include "protocol/progress.hpp"
#include "ui/win32/panel_text.hpp"

namespace fwburn {

namespace {

constexpr int kLogoBitmapId = 12;

RECT ToRect(const panel::Box& b) {
    return RECT{b.left, b.top, b.right, b.bottom};
}

void EraseField(HDC dc, const panel::Box& box) {
    const RECT r = ToRect(box);
    // A system brush: never deleted.
    FillRect(dc, &r, GetSysColorBrush(COLOR_SCROLLBAR));
}

void Fill(HDC dc, const panel::Box& box, COLORREF colour) {
    const RECT r = ToRect(box);
    HBRUSH brush = CreateSolidBrush(colour);
    if (brush != nullptr) {
        FillRect(dc, &r, brush);
        DeleteObject(brush);
    }
}

void Draw(HDC dc, const panel::Point& at, const char* text, int length) {
    TextOutA(dc, at.x, at.y, text, length);
}

void Draw(HDC dc, const panel::Point& at, const panel::Text& text) {
    TextOutA(dc, at.x, at.y, text.chars, text.length);
}

}  // namespace

void DisplayElapsedTime(HWND, HDC dc, const Figures& figures) {
    SetBkMode(dc, TRANSPARENT);
    EraseField(dc, panel::kElapsedField);
    Draw(dc, panel::kElapsedLabelAt, panel::kElapsedLabel,
         static_cast<int>(std::strlen(panel::kElapsedLabel)));
    Draw(dc, panel::kElapsedNumberAt, panel::Figure(figures.elapsedTime));
}

void DisplayProgressBar(HWND, HDC dc, const Figures& figures) {
    SetBkMode(dc, TRANSPARENT);
    const int32_t percent = figures.progress;
    Fill(dc, panel::kTrack, panel::kTrackColour);
    const panel::Box bar{panel::kTrack.left, panel::kTrack.top, panel::ProgressBarRight(percent),
                         panel::kTrack.bottom};
    Fill(dc, bar, panel::kBarColour);
    EraseField(dc, panel::kProgressField);
    Draw(dc, panel::kProgressLabelAt, panel::kProgressLabel,
         static_cast<int>(std::strlen(panel::kProgressLabel)));
    Draw(dc, panel::kProgressNumberAt, panel::Figure(percent));
}

void DisplayStatus(HWND, HDC dc, const Figures& figures) {
    SetBkMode(dc, TRANSPARENT);
    EraseField(dc, panel::kStatusField);
    Draw(dc, panel::kStatusLabelAt, panel::kStatusLabel,
         static_cast<int>(std::strlen(panel::kStatusLabel)));
    const char* word = panel::PhaseWord(figures.flashStatus);
    Draw(dc, panel::kPhaseAt, word, static_cast<int>(std::strlen(word)));
}

void DisplayErrCounter(HWND, HDC dc, const Figures& figures) {
    SetBkMode(dc, TRANSPARENT);
    EraseField(dc, panel::kCounterField);
    Draw(dc, panel::kCounterAt, panel::CounterText(figures.errCounter, figures.totalErrCounter));
}

void DisplayDate(HWND, HDC dc) {
    SetBkMode(dc, TRANSPARENT);
    if (ThisBuildProfile().standInImage) {
        // No date of a firmware: there is none in this build.
        const COLORREF previous = SetTextColor(dc, panel::kStandInColour);
        const char* first = panel::kStandInLines[0];
        const char* second = panel::kStandInLines[1];
        Draw(dc, panel::kDateAt, first, static_cast<int>(std::strlen(first)));
        Draw(dc, panel::kStandInSecondLineAt, second, static_cast<int>(std::strlen(second)));
        SetTextColor(dc, previous);
        return;
    }
    const char* date = ThisBuildProfile().dateText;
    Draw(dc, panel::kDateAt, date, static_cast<int>(std::strlen(date)));
}

void DisplayLogo(HWND, HDC dc) {
    // Loaded anew at every tick and released at once: the panel holds no graphics object.
    auto* bitmap = static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kLogoBitmapId), IMAGE_BITMAP,
                   panel::kLogoWidth, panel::kLogoHeight, LR_DEFAULTCOLOR));
    if (bitmap == nullptr) {
        return;
    }
    HDC memory = CreateCompatibleDC(dc);
    if (memory != nullptr) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BITMAP record{};
        GetObjectA(bitmap, sizeof record, &record);
        BitBlt(dc, panel::kLogoAt.x, panel::kLogoAt.y, record.bmWidth, record.bmHeight, memory, 0,
               0, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
    }
    DeleteObject(bitmap);
}

void PaintPanel(HWND window, HDC dc, const Figures& figures, bool withLogo) {
    DisplayElapsedTime(window, dc, figures);
    DisplayProgressBar(window, dc, figures);
    DisplayStatus(window, dc, figures);
    DisplayErrCounter(window, dc, figures);
    DisplayDate(window, dc);
    if (withLogo) {
        DisplayLogo(window, dc);
    }
}

}  // namespace fwburn

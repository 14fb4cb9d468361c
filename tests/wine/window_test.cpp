// The real window in this process, under Wine and Xvfb: the panel painters hold no graphics
// object over many ticks, and Escape, unlike a click, starts no update.
#include <windows.h>

#include <gtest/gtest.h>

#include "catalogue/job_state.hpp"
#include "ui/win32/main_window.hpp"
#include "ui/win32/painters.hpp"

namespace fwburn {
namespace {

// The process's live GDI objects. Wine does not count them for GetGuiResources, but it resolves a
// handle given by its table index alone: counting the indices that name an object counts them.
int LiveGdiObjects() {
    const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (counted != 0) {
        return static_cast<int>(counted);
    }
    int live = 0;
    for (uintptr_t index = 1; index < 0x10000; ++index) {
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0) {
            ++live;
        }
    }
    return live;
}

void PumpFor(DWORD milliseconds) {
    const DWORD until = GetTickCount() + milliseconds;
    MSG msg;
    while (static_cast<LONG>(GetTickCount() - until) < 0) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

HWND TheWindow() {
    static HWND window = CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOW);
    return window;
}

struct BoxSearch {
    HWND owner;
    HWND box;
};

BOOL CALLBACK FindBox(HWND w, LPARAM param) {
    auto* s = reinterpret_cast<BoxSearch*>(param);
    char cls[32] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") == 0 && GetWindow(w, GW_OWNER) == s->owner) {
        s->box = w;
        return FALSE;
    }
    return TRUE;
}

TEST(GdiCount, SeesObjectsThatAreNotReleased) {
    const int before = LiveGdiObjects();
    HBRUSH leaked[20];
    for (HBRUSH& b : leaked) {
        b = CreateSolidBrush(RGB(1, 2, 3));
    }
    EXPECT_EQ(LiveGdiObjects(), before + 20);
    for (HBRUSH b : leaked) {
        DeleteObject(b);
    }
    EXPECT_EQ(LiveGdiObjects(), before);
}

TEST(Painters, HoldNoGraphicsObjectOverManyTicks) {
    HWND window = TheWindow();
    ASSERT_NE(window, nullptr);
    PumpFor(500);  // the first ticks settle what the window itself keeps
    const int before = LiveGdiObjects();
    progress = 37;  // a red bar and a white track at every tick
    PumpFor(3000);  // 30 ticks of timer 6
    HDC dc = GetDC(window);
    for (int i = 0; i < 500; ++i) {
        PaintPanel(window, dc, true);
    }
    ReleaseDC(window, dc);
    InvalidateRect(window, nullptr, TRUE);
    PumpFor(300);  // WM_PAINT too
    progress = 0;
    EXPECT_EQ(LiveGdiObjects(), before);
}

TEST(StartCommand, EscapeStartsNothingWhereAClickStarts) {
    HWND window = TheWindow();
    ASSERT_NE(window, nullptr);
    HWND button = GetDlgItem(window, 2);
    HWND ports = GetDlgItem(window, 7);
    ASSERT_FALSE(WorkerRunning());

    // Escape through the window's own message loop and its dialog keyboard handling.
    PostMessageA(ports, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(button, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(window, WM_QUIT, 0, 0);
    RunMessageLoop(window);
    EXPECT_FALSE(WorkerRunning());
    EXPECT_TRUE(IsWindowEnabled(button));

    // The click: the worker starts, finds no USB controller and says so in its one box.
    PostMessageA(button, BM_CLICK, 0, 0);
    PostMessageA(window, WM_QUIT, 0, 0);
    RunMessageLoop(window);
    EXPECT_TRUE(WorkerRunning());
    EXPECT_FALSE(IsWindowEnabled(button));  // disabled before the worker started
    BoxSearch s{window, nullptr};
    for (int i = 0; i < 100 && s.box == nullptr; ++i) {
        PumpFor(100);
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&s));
    }
    ASSERT_NE(s.box, nullptr);
    char text[128] = {};
    GetWindowTextA(GetDlgItem(s.box, 0xFFFF), text, sizeof text);
    EXPECT_STREQ(text, "CANNOT open USB Port!!!");
    PostMessageA(GetDlgItem(s.box, IDOK), BM_CLICK, 0, 0);
    for (int i = 0; i < 100 && WorkerRunning(); ++i) {
        PumpFor(100);
    }
    EXPECT_FALSE(WorkerRunning());
    EXPECT_TRUE(IsWindowEnabled(button));
}

}  // namespace
}  // namespace fwburn

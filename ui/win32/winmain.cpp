#include <windows.h>

#include "ui/win32/main_window.hpp"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState) {
    HWND mainWindow = fwburn::CreateMainWindow(instance, showState);
    if (mainWindow == nullptr) {
        return 0;
    }
    return fwburn::RunMessageLoop(mainWindow);
}

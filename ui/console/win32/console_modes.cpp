#include "ui/console/win32/console_modes.hpp"

#include <windows.h>

#include <atomic>

namespace fwburn::console {

namespace {

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

UINT gOutputCodePage = 0;
DWORD gOutputMode = 0;
bool gModeSet = false;
std::atomic<bool> gTaken{false};

}  // namespace

void KeepStandardHandles() {
    const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (const DWORD id : which) {
        const HANDLE h = GetStdHandle(id);
        if (h != nullptr && h != INVALID_HANDLE_VALUE) {
            continue;
        }
        const HANDLE nul =
            CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (nul != INVALID_HANDLE_VALUE) {
            SetStdHandle(id, nul);
        }
    }
}

void TakeConsole() {
    gOutputCodePage = GetConsoleOutputCP();
    if (gOutputCodePage != 0) {
        SetConsoleOutputCP(CP_UTF8);
    }
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        gOutputMode = mode;
        gModeSet = (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
                   SetConsoleMode(
                       out, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    gTaken = true;
}

void RestoreConsole() {
    if (!gTaken.exchange(false)) {
        return;
    }
    if (gModeSet) {
        SetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), gOutputMode);
    }
    if (gOutputCodePage != 0) {
        SetConsoleOutputCP(gOutputCodePage);
    }
}

bool VirtualTerminalOutput() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) &&
           (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace fwburn::console

// The main window: class, controls, the commands and the two timers. WinMain (winmain.cpp) is
// CreateMainWindow followed by RunMessageLoop.
#pragma once

#include <windows.h>

namespace fwburn {

constexpr char szClassName[] = "WindowsApp";
constexpr char kWindowTitle[] = "Korvan PLC Firmware Update Program";
constexpr int kBrowseCommand = 1;
constexpr int kStartButtonId = 2;
constexpr int kPortListId = 7;
constexpr int kModelListId = 8;

extern HWND hComPortList;
extern HWND hwndFilePath;  // no label is made for it: the Browse text goes nowhere
extern int isFileChosed;
extern char szFile[MAX_PATH];

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the class, creates the window and its controls, fixes the model from the built-in
// image name, fills the port list, starts the panel timer and shows the window. nullptr when the
// class cannot be registered.
HWND CreateMainWindow(HINSTANCE instance, int showState);

// Runs until the quit message, with the dialog keyboard handling of the main window; returns the
// quit message's exit code.
int RunMessageLoop(HWND mainWindow);

}  // namespace fwburn

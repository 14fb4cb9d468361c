// The main window: class, controls, the commands and the two timers. WinMain (winmain.cpp) is
// CreateMainWindow followed by RunMessageLoop.
#pragma once

#include <windows.h>

#include "burn/update.hpp"

namespace fwburn {

constexpr char szClassName[] = "WindowsApp";
constexpr char kWindowTitle[] = "Korvan PLC Firmware Update Program";
// The outer size: fixed, the panel is laid out in pixels.
constexpr int kWindowWidth = 544;
constexpr int kWindowHeight = 205;
constexpr int kBrowseCommand = 1;
constexpr int kStartButtonId = 2;
constexpr int kPortListId = 7;
constexpr int kModelListId = 8;

// Posted by the burn worker's thread as its last act, after the worker has given up the
// one-worker flag: the window enables Start Burn again (or ends, when a close is waiting on it).
constexpr UINT kWorkerEndedMessage = WM_APP + 2;
// Diagnostics: how many presses of the key in wParam (VK_ESCAPE or VK_CANCEL) the message loop
// has kept from the dialog keyboard handling.
constexpr UINT kDroppedKeyCountMessage = WM_APP + 3;

// Asked (Yes/No, No the default) when the window is closed while an update runs.
extern const char kCloseCaption[];   // "WARNING"
extern const char kCloseQuestion[];  // "An update is running. Closing now stops it ..."

extern HWND hComPortList;
extern HWND hwndFilePath;  // no label is made for it: the Browse text goes nowhere
extern int isFileChosed;
extern char szFile[MAX_PATH];

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the class, creates the window and its controls, fixes the model from the built-in
// image name, fills the port list, starts the panel timer and shows the window. A build with a
// stand-in image says so in the title. nullptr when the class cannot be registered.
HWND CreateMainWindow(HINSTANCE instance, int showState);

// The window's one update, for the life of the process: its figures are what the panel paints.
Update& WindowUpdate();
// Whether the window's one-worker flag is taken (from Start until the worker has finished).
bool WindowWorkerRunning();

// Runs until the quit message, with the dialog keyboard handling of the main window (which never
// sees Escape or Ctrl+Break); returns the quit message's exit code.
int RunMessageLoop(HWND mainWindow);

}  // namespace fwburn

// Looks at and drives the updater's window from outside, as an operator would, for the Wine tests:
// reads the lists and message boxes, clicks, presses keys. One command per run; every result is
// printed, so a test passes only on text it read back.
//
//   fwburn-wine-probe window [seconds]   wait for the main window; its client origin on screen
//   fwburn-wine-probe combo <id>         entries, selection and state of a list
//   fwburn-wine-probe select-port <text> pick a port as the operator does
//   fwburn-wine-probe click-start        click Start Burn (the button makes the command)
//   fwburn-wine-probe start-command      send command 2 as the button would, enabled or not
//   fwburn-wine-probe escape             press Escape on the focused control of the window
//   fwburn-wine-probe start-state        whether Start Burn is enabled
//   fwburn-wine-probe box [seconds]      wait for a message box of the window: caption and text
//   fwburn-wine-probe ok [seconds]       press OK on that box
//   fwburn-wine-probe no-box <seconds>   succeed only when no box appears for that long
//   fwburn-wine-probe close              close the main window (ends the program)
//   fwburn-wine-probe devices            friendly names of the present devices (no window needed)
#include <windows.h>
// windows.h first: setupapi.h needs its types.
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char kClass[] = "WindowsApp";
constexpr char kTitle[] = "Korvan PLC Firmware Update Program";

HWND MainWindow(double seconds) {
    const DWORD until = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        HWND w = FindWindowA(kClass, kTitle);
        if (w != nullptr || static_cast<LONG>(GetTickCount() - until) > 0) {
            return w;
        }
        Sleep(100);
    }
}

struct BoxSearch {
    HWND owner;
    HWND box;
};

BOOL CALLBACK FindBox(HWND w, LPARAM param) {
    auto* s = reinterpret_cast<BoxSearch*>(param);
    char cls[32] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (std::strcmp(cls, "#32770") == 0 && GetWindow(w, GW_OWNER) == s->owner &&
        IsWindowVisible(w)) {
        s->box = w;
        return FALSE;
    }
    return TRUE;
}

HWND MessageBoxOf(HWND owner, double seconds) {
    const DWORD until = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        BoxSearch s{owner, nullptr};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&s));
        if (s.box != nullptr || static_cast<LONG>(GetTickCount() - until) > 0) {
            return s.box;
        }
        Sleep(100);
    }
}

// Text crosses the process boundary as UTF-16 (Wine carries list texts of another process
// reliably only so); the updater's texts are ASCII.
std::string Narrow(const wchar_t* text) {
    char out[512] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out - 1, nullptr, nullptr);
    return out;
}

std::string TextOf(HWND w) {
    wchar_t text[512] = {};
    GetWindowTextW(w, text, 511);
    return Narrow(text);
}

std::string ListItem(HWND list, LRESULT index) {
    wchar_t text[256] = {};
    if (SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0) < 255) {
        SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(text));
    }
    return Narrow(text);
}

int Fail(const char* what) {
    std::printf("probe failed: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Fail("no command");
    }
    const std::string command = argv[1];
    if (command == "devices") {
        // The first device scan of a fresh prefix starts Wine's device services, which takes a
        // while; the prefix setup does it once so that no program's start-up pays for it.
        HDEVINFO devices =
            SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
        if (devices == INVALID_HANDLE_VALUE) {
            return Fail("no device list");
        }
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        int count = 0;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
            char name[1024] = {};
            if (SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                  reinterpret_cast<BYTE*>(name), sizeof name - 1,
                                                  nullptr)) {
                std::printf("device [%s]\n", name);
            }
            ++count;
        }
        SetupDiDestroyDeviceInfoList(devices);
        std::printf("devices present=%d\n", count);
        return 0;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 20.0;
    HWND main = MainWindow(command == "window" ? seconds : 5.0);
    if (main == nullptr) {
        return Fail("no main window");
    }
    HWND button = GetDlgItem(main, 2);
    if (command == "window") {
        POINT origin{0, 0};
        ClientToScreen(main, &origin);
        RECT client{};
        GetClientRect(main, &client);
        std::printf("window title=%s origin=%ld,%ld client=%ldx%ld\n", TextOf(main).c_str(),
                    origin.x, origin.y, client.right, client.bottom);
        return 0;
    }
    if (command == "combo" && argc > 2) {
        HWND list = GetDlgItem(main, std::atoi(argv[2]));
        if (list == nullptr) {
            return Fail("no such list");
        }
        const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
        const LRESULT selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
        std::printf("combo id=%s count=%ld selected=%ld enabled=%d\n", argv[2],
                    static_cast<long>(count), static_cast<long>(selected),
                    IsWindowEnabled(list) ? 1 : 0);
        for (LRESULT i = 0; i < count; ++i) {
            std::printf("item %ld=[%s]%s\n", static_cast<long>(i), ListItem(list, i).c_str(),
                        i == selected ? " selected" : "");
        }
        return 0;
    }
    if (command == "select-port" && argc > 2) {
        HWND list = GetDlgItem(main, 7);
        wchar_t wanted[64] = {};
        MultiByteToWideChar(CP_ACP, 0, argv[2], -1, wanted, 63);
        const LRESULT index = SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(wanted));
        if (index == CB_ERR) {
            return Fail("port not listed");
        }
        SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        // Picking with the mouse notifies the window; CB_SETCURSEL alone does not.
        SendMessageA(main, WM_COMMAND, MAKEWPARAM(7, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
        std::printf("selected %s\n", argv[2]);
        return 0;
    }
    if (command == "click-start") {
        PostMessageA(button, BM_CLICK, 0, 0);
        std::printf("clicked\n");
        return 0;
    }
    if (command == "start-command") {
        PostMessageA(main, WM_COMMAND, MAKEWPARAM(2, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        std::printf("start command sent\n");
        return 0;
    }
    if (command == "escape") {
        // Posted to a control of the window: it goes through the window's message loop and its
        // dialog keyboard handling, as a key press does.
        HWND list = GetDlgItem(main, 7);
        PostMessageA(list, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(list, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
        PostMessageA(button, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(button, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
        std::printf("escape pressed\n");
        return 0;
    }
    if (command == "start-state") {
        std::printf("start enabled=%d\n", IsWindowEnabled(button) ? 1 : 0);
        return 0;
    }
    if (command == "box" || command == "ok") {
        HWND box = MessageBoxOf(main, seconds);
        if (box == nullptr) {
            return Fail("no message box");
        }
        std::printf("box caption=[%s] text=[%s]\n", TextOf(box).c_str(),
                    TextOf(GetDlgItem(box, 0xFFFF)).c_str());
        if (command == "ok") {
            PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
            // Gone within a few seconds, or the press did not work.
            const DWORD until = GetTickCount() + 5000;
            while (IsWindow(box) && static_cast<LONG>(GetTickCount() - until) < 0) {
                Sleep(50);
            }
            if (IsWindow(box)) {
                return Fail("box still open after OK");
            }
            std::printf("ok pressed\n");
        }
        return 0;
    }
    if (command == "no-box") {
        HWND box = MessageBoxOf(main, seconds);
        if (box != nullptr) {
            std::printf("unexpected box caption=[%s] text=[%s]\n", TextOf(box).c_str(),
                        TextOf(GetDlgItem(box, 0xFFFF)).c_str());
            return 1;
        }
        std::printf("no box\n");
        return 0;
    }
    if (command == "close") {
        PostMessageA(main, WM_CLOSE, 0, 0);
        std::printf("close sent\n");
        return 0;
    }
    return Fail("unknown command");
}

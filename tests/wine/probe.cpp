// Looks at and drives the updater's window from outside, as an operator would, for the Wine tests:
// reads the lists and message boxes, clicks, presses keys. One command per run; every result is
// printed, so a test passes only on text it read back.
//
//   fwburn-wine-probe window [seconds]   wait for the main window, shown; title, client origin
//   fwburn-wine-probe combo <id>         entries, selection and state of a list
//   fwburn-wine-probe select-port <text> pick a port as the operator does
//   fwburn-wine-probe click-start        click Start Burn (the button makes the command)
//   fwburn-wine-probe start-command      send command 2 as the button would, enabled or not
//   fwburn-wine-probe escape             post Escape to the controls of the window
//   fwburn-wine-probe ctrl-break         post Ctrl+Break to the controls of the window
//   fwburn-wine-probe dropped-keys       presses of Escape and Ctrl+Break the window kept from
//                                        its dialog handling (they reached it)
//   fwburn-wine-probe focus              make the window the active one (for keys from X)
//   fwburn-wine-probe start-state        whether Start Burn is enabled
//   fwburn-wine-probe box [seconds]      wait for a message box of the window: caption, text,
//                                        buttons and the default button
//   fwburn-wine-probe question [seconds] wait for a Yes/No box of the window, as box does, and
//                                        leave it open (a box of the worker may be open beside it)
//   fwburn-wine-probe ok [seconds]       press OK on a box that has one
//   fwburn-wine-probe answer <yes|no|enter> [seconds]
//                                        answer a Yes/No box (enter: its default button)
//   fwburn-wine-probe no-box <seconds>   succeed only when no box appears for that long
//   fwburn-wine-probe held-enter         post a repeat of a held Enter to the focused control of
//                                        a box with OK; whether the box stayed
//   fwburn-wine-probe close              close the main window (WM_CLOSE)
//   fwburn-wine-probe menu-close         the system menu's Close (WM_SYSCOMMAND SC_CLOSE)
//   fwburn-wine-probe gone [seconds]     wait until the main window no longer exists
//   fwburn-wine-probe version <exe>      the version record: flags and the texts that matter
//   fwburn-wine-probe devices            friendly names of the present devices (no window needed)
//   fwburn-wine-probe platform           the probe's own pointer size, whether it runs under WoW64,
//                                        and the processor the (Wine) Windows says it has
#include <windows.h>
// windows.h first: setupapi.h needs its types.
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ui/win32/main_window.hpp"

namespace {

// The window is found by its class: the title of a stand-in build says more.
HWND MainWindow(double seconds, bool shown) {
    const DWORD until = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        HWND w = FindWindowA(fwburn::szClassName, nullptr);
        if ((w != nullptr && (!shown || IsWindowVisible(w))) ||
            static_cast<LONG>(GetTickCount() - until) > 0) {
            return w;
        }
        Sleep(100);
    }
}

// Which boxes a search takes: any, one with an OK button, or one with Yes and No.
enum class BoxKind { Any, Ok, YesNo };

struct BoxSearch {
    HWND owner;
    BoxKind kind;
    HWND box;
};

BOOL CALLBACK FindBox(HWND w, LPARAM param) {
    auto* s = reinterpret_cast<BoxSearch*>(param);
    char cls[32] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (std::strcmp(cls, "#32770") != 0 || GetWindow(w, GW_OWNER) != s->owner ||
        !IsWindowVisible(w)) {
        return TRUE;
    }
    const bool ok = GetDlgItem(w, IDOK) != nullptr;
    const bool yesNo = GetDlgItem(w, IDYES) != nullptr && GetDlgItem(w, IDNO) != nullptr;
    if (s->kind == BoxKind::Any || (s->kind == BoxKind::Ok && ok) ||
        (s->kind == BoxKind::YesNo && yesNo)) {
        s->box = w;
        return FALSE;
    }
    return TRUE;
}

HWND MessageBoxOf(HWND owner, double seconds, BoxKind kind = BoxKind::Any) {
    const DWORD until = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        BoxSearch s{owner, kind, nullptr};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&s));
        if (s.box != nullptr || static_cast<LONG>(GetTickCount() - until) > 0) {
            return s.box;
        }
        Sleep(100);
    }
}

// Posts a key press and release to each window, as the keyboard would to a focused control: it
// goes through the window's message loop and what that does with keys.
void PostKey(std::initializer_list<HWND> targets, WPARAM key, LPARAM down, LPARAM up) {
    for (HWND w : targets) {
        PostMessageA(w, WM_KEYDOWN, key, down);
        PostMessageA(w, WM_KEYUP, key, up);
    }
}

bool WaitGone(HWND w, double seconds) {
    const DWORD until = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    while (IsWindow(w) && static_cast<LONG>(GetTickCount() - until) < 0) {
        Sleep(50);
    }
    return !IsWindow(w);
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

// The text on one line: a line break shows as "\n".
std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c != '\r') {
            out += c;
        }
    }
    return out;
}

// "box caption=[...] text=[...] buttons=[Yes,No] default=[No]"
void PrintBox(HWND box, const char* prefix = "") {
    std::string buttons, byDefault;
    const struct {
        int id;
        const char* name;
    } kinds[] = {{IDOK, "OK"}, {IDYES, "Yes"}, {IDNO, "No"}, {IDCANCEL, "Cancel"}};
    for (const auto& k : kinds) {
        HWND b = GetDlgItem(box, k.id);
        if (b == nullptr) {
            continue;
        }
        buttons += (buttons.empty() ? "" : ",") + std::string(k.name);
        if ((GetWindowLongA(b, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            byDefault = k.name;
        }
    }
    std::printf("%sbox caption=[%s] text=[%s] buttons=[%s] default=[%s]\n", prefix,
                TextOf(box).c_str(), OneLine(TextOf(GetDlgItem(box, 0xFFFF))).c_str(),
                buttons.c_str(), byDefault.c_str());
}

bool PressAndWait(HWND box, HWND button) {
    PostMessageA(button, BM_CLICK, 0, 0);
    return WaitGone(box, 15);  // gone within seconds, or the press did not work
}

// The version record of a program: its flags and the texts an operator's tools show.
int PrintVersion(const char* program) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(program, &ignored);
    std::string data(size, '\0');
    if (size == 0 || !GetFileVersionInfoA(program, 0, size, data.data())) {
        std::printf("probe failed: no version record\n");
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) &&
        fixed != nullptr) {
        std::printf("version specialbuild=%d\n",
                    (fixed->dwFileFlags & fixed->dwFileFlagsMask & VS_FF_SPECIALBUILD) ? 1 : 0);
    }
    for (const char* name : {"FileDescription", "FirmwareImage", "SpecialBuild"}) {
        char* value = nullptr;
        const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
        if (VerQueryValueA(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) &&
            value != nullptr) {
            std::printf("version %s=[%s]\n", name, value);
        } else {
            std::printf("version %s absent\n", name);
        }
    }
    return 0;
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
    if (command == "platform") {
        BOOL wow64 = FALSE;
        if (!IsWow64Process(GetCurrentProcess(), &wow64)) {
            return Fail("IsWow64Process");
        }
        SYSTEM_INFO info{};
        GetNativeSystemInfo(&info);
        const WORD cpu = info.wProcessorArchitecture;
        std::printf("platform bits=%d wow64=%d native=%s\n", static_cast<int>(sizeof(void*) * 8),
                    wow64 ? 1 : 0,
                    cpu == PROCESSOR_ARCHITECTURE_INTEL   ? "x86"
                    : cpu == PROCESSOR_ARCHITECTURE_AMD64 ? "amd64"
                                                          : "other");
        return 0;
    }
    if (command == "version" && argc > 2) {
        return PrintVersion(argv[2]);
    }
    const int secondsArg = command == "answer" ? 3 : 2;
    const double seconds = argc > secondsArg ? std::atof(argv[secondsArg]) : 20.0;
    if (command == "gone") {
        HWND w = MainWindow(0, false);
        if (w != nullptr && !WaitGone(w, seconds)) {
            return Fail("the window is still there");
        }
        std::printf("window gone\n");
        return 0;
    }
    HWND main = MainWindow(command == "window" ? seconds : 5.0, command == "window");
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
        PostKey({GetDlgItem(main, 7), button}, VK_ESCAPE, 0x00010001,
                static_cast<LPARAM>(0xC0010001u));
        std::printf("escape pressed\n");
        return 0;
    }
    if (command == "ctrl-break") {
        PostKey({GetDlgItem(main, 7), button}, VK_CANCEL, 0x01460001,
                static_cast<LPARAM>(0xC1460001u));
        std::printf("ctrl-break pressed\n");
        return 0;
    }
    if (command == "dropped-keys") {
        const LRESULT escapes = SendMessageA(main, fwburn::kDroppedKeyCountMessage, VK_ESCAPE, 0);
        const LRESULT breaks = SendMessageA(main, fwburn::kDroppedKeyCountMessage, VK_CANCEL, 0);
        std::printf("dropped escape=%ld ctrl-break=%ld\n", static_cast<long>(escapes),
                    static_cast<long>(breaks));
        return 0;
    }
    if (command == "focus") {
        SetForegroundWindow(main);
        const DWORD until = GetTickCount() + 5000;
        while (GetForegroundWindow() != main && static_cast<LONG>(GetTickCount() - until) < 0) {
            Sleep(50);
        }
        if (GetForegroundWindow() != main) {
            return Fail("the window did not become the active one");
        }
        std::printf("focused\n");
        return 0;
    }
    if (command == "start-state") {
        std::printf("start enabled=%d\n", IsWindowEnabled(button) ? 1 : 0);
        return 0;
    }
    if (command == "box") {
        HWND box = MessageBoxOf(main, seconds);
        if (box == nullptr) {
            return Fail("no message box");
        }
        PrintBox(box);
        return 0;
    }
    if (command == "question") {
        HWND box = MessageBoxOf(main, seconds, BoxKind::YesNo);
        if (box == nullptr) {
            return Fail("no Yes/No box");
        }
        PrintBox(box);
        return 0;
    }
    if (command == "ok") {
        HWND box = MessageBoxOf(main, seconds, BoxKind::Ok);
        if (box == nullptr) {
            return Fail("no message box with OK");
        }
        PrintBox(box);
        if (!PressAndWait(box, GetDlgItem(box, IDOK))) {
            return Fail("box still open after OK");
        }
        std::printf("ok pressed\n");
        return 0;
    }
    if (command == "answer" && argc > 2) {
        const std::string answer = argv[2];
        HWND box = MessageBoxOf(main, seconds, BoxKind::YesNo);
        if (box == nullptr) {
            return Fail("no Yes/No box");
        }
        PrintBox(box);
        if (answer == "enter") {
            // To the box's focused control, as the keyboard would: its default button answers.
            GUITHREADINFO gui{};
            gui.cbSize = sizeof gui;
            if (!GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &gui) ||
                gui.hwndFocus == nullptr || GetParent(gui.hwndFocus) != box) {
                return Fail("no focused control in the box");
            }
            PostKey({gui.hwndFocus}, VK_RETURN, 0x001C0001, static_cast<LPARAM>(0xC01C0001u));
            if (!WaitGone(box, 15)) {
                return Fail("box still open after Enter");
            }
        } else if (!PressAndWait(box, GetDlgItem(box, answer == "yes" ? IDYES : IDNO))) {
            return Fail("box still open after the answer");
        }
        std::printf("answered %s\n", answer.c_str());
        return 0;
    }
    if (command == "held-enter") {
        HWND box = MessageBoxOf(main, seconds, BoxKind::Ok);
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        if (box == nullptr || !GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &gui) ||
            gui.hwndFocus == nullptr || GetParent(gui.hwndFocus) != box) {
            return Fail("no box with OK and a focused control");
        }
        // Bit 30: the key was already down, as in every repeat of a held key.
        PostKey({gui.hwndFocus}, VK_RETURN, 0x401C0001, static_cast<LPARAM>(0xC01C0001u));
        std::printf(WaitGone(box, 2) ? "box gone\n" : "box stayed\n");
        return 0;
    }
    if (command == "no-box") {
        HWND box = MessageBoxOf(main, seconds);
        if (box != nullptr) {
            PrintBox(box, "unexpected ");
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
    if (command == "menu-close") {
        PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
        std::printf("menu close sent\n");
        return 0;
    }
    return Fail("unknown command");
}

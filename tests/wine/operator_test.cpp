// The window's operator under Wine: a reconnect prompt and the final message are modal OK boxes of
// the main window with their caption, text and icon; once the window asks its worker to stop, no
// box shows and a prompt answers Cancel, also when the stop comes while the box is open.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "burn/messages.hpp"
#include "catalogue/catalogue.hpp"
#include "link/win32/update_lock.hpp"
#include "ui/win32/win32_operator.hpp"

namespace fwburn {
namespace {

enum class Icon { None, Error, Information, Other };

struct SeenBox {
    bool shown = false;
    std::string caption;
    std::string text;
    Icon icon = Icon::None;
    bool okOnly = false;
};

std::string TextOf(HWND w) {
    char text[512] = {};
    GetWindowTextA(w, text, sizeof text);
    return text;
}

struct BoxSearch {
    HWND owner;
    HWND box;
};

BOOL CALLBACK FindBox(HWND w, LPARAM param) {
    auto* s = reinterpret_cast<BoxSearch*>(param);
    char cls[32] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") == 0 && GetWindow(w, GW_OWNER) == s->owner && IsWindowVisible(w)) {
        s->box = w;
        return FALSE;
    }
    return TRUE;
}

HWND FindOwnedBox(HWND owner) {
    BoxSearch s{owner, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&s));
    return s.box;
}

// The icon a message box shows, by the system icon its icon control holds.
struct IconSearch {
    HICON icon;
};

BOOL CALLBACK FindIcon(HWND w, LPARAM param) {
    char cls[32] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0 && (GetWindowLongA(w, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        reinterpret_cast<IconSearch*>(param)->icon =
            reinterpret_cast<HICON>(SendMessageA(w, STM_GETICON, 0, 0));
        return FALSE;
    }
    return TRUE;
}

Icon IconOf(HWND box) {
    IconSearch s{nullptr};
    EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&s));
    if (s.icon == nullptr) {
        return Icon::None;
    }
    if (s.icon == LoadIconA(nullptr, MAKEINTRESOURCEA(32513))) {  // IDI_HAND
        return Icon::Error;
    }
    if (s.icon == LoadIconA(nullptr, MAKEINTRESOURCEA(32516))) {  // IDI_ASTERISK
        return Icon::Information;
    }
    return Icon::Other;
}

void PumpOnce() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

class OperatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        owner_ = CreateWindowExA(0, "STATIC", "operator test owner", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(owner_, nullptr);
        ShowWindow(owner_, SW_SHOW);
    }
    void TearDown() override { DestroyWindow(owner_); }

    // Runs `call` on a thread of its own, as the burn worker does, while this thread pumps the
    // owner's messages. A box that shows is read, then `onBox` runs (by default OK is pressed).
    SeenBox Run(const std::function<void()>& call,
                const std::function<void(HWND)>& onBox = nullptr) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            call();
            done = true;
        });
        SeenBox seen;
        const DWORD until = GetTickCount() + 20000;
        while (!done && static_cast<LONG>(GetTickCount() - until) < 0) {
            PumpOnce();
            HWND box = seen.shown ? nullptr : FindOwnedBox(owner_);
            if (box != nullptr) {
                seen.shown = true;
                seen.caption = TextOf(box);
                seen.text = TextOf(GetDlgItem(box, 0xFFFF));
                seen.icon = IconOf(box);
                seen.okOnly = GetDlgItem(box, IDOK) != nullptr &&
                              GetDlgItem(box, IDYES) == nullptr && GetDlgItem(box, IDNO) == nullptr;
                if (onBox) {
                    onBox(box);
                } else {
                    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
                }
            }
            Sleep(10);
        }
        EXPECT_TRUE(done.load()) << "the operator call did not return";
        if (!done) {  // close whatever holds it, so that the thread can be joined
            for (HWND box = FindOwnedBox(owner_); box != nullptr; box = FindOwnedBox(owner_)) {
                PostMessageA(box, WM_CLOSE, 0, 0);
                PumpOnce();
                Sleep(50);
            }
        }
        worker.join();
        return seen;
    }

    HWND owner_ = nullptr;
    StopSignal stop_;
};

UpdateOutcome MakeOutcome(OutcomeKind kind, const char* caption, const char* text,
                          MessageIcon icon) {
    UpdateOutcome o;
    o.kind = kind;
    o.caption = caption;
    std::snprintf(o.text, sizeof o.text, "%s", text);
    o.icon = icon;
    return o;
}

TEST_F(OperatorTest, PromptsAndFinalMessagesAreOkBoxesWithTheirCaptionTextAndIcon) {
    Win32Operator op(owner_, nullptr, stop_);
    const struct {
        const char* name;
        std::function<Answer()> call;
        std::string caption, text;
        Icon icon;
    } cases[] = {
        {"power-cycle prompt",
         [&] {
             return op.Prompt(ReconnectKind::PowerCycle, kInformationCaption, kPowerCyclePrompt);
         },
         "Information", "Please POWER OFF=>ON the PLC, and then press OK to continue",
         Icon::Information},
        {"replug prompt",
         [&] { return op.Prompt(ReconnectKind::ReplugUsb, kInformationCaption, kReplugPrompt); },
         "Information", "Please REPLUG the USB Cable, and then press OK to continue",
         Icon::Information},
        {"failure",
         [&] {
             op.ShowOutcome(MakeOutcome(OutcomeKind::PortNotOpened, kErrorCaption,
                                        "CANNOT open COM3 Port!!!", MessageIcon::Error));
             return Answer::Ok;
         },
         "ERROR", "CANNOT open COM3 Port!!!", Icon::Error},
        {"success",
         [&] {
             op.ShowOutcome(MakeOutcome(OutcomeKind::Success, "INFORMATION",
                                        "Firmware update is SUCCESSFUL", MessageIcon::Information));
             return Answer::Ok;
         },
         "INFORMATION", "Firmware update is SUCCESSFUL", Icon::Information},
    };
    for (const auto& c : cases) {
        Answer answer = Answer::Cancel;
        const SeenBox box = Run([&] { answer = c.call(); });
        EXPECT_TRUE(box.shown) << c.name;
        EXPECT_EQ(box.caption, c.caption) << c.name;
        EXPECT_EQ(box.text, c.text) << c.name;
        EXPECT_EQ(box.icon, c.icon) << c.name;
        EXPECT_TRUE(box.okOnly) << c.name;
        EXPECT_EQ(answer, Answer::Ok) << c.name;
    }
}

TEST_F(OperatorTest, ACancelledUpdateShowsNothing) {
    Win32Operator op(owner_, nullptr, stop_);
    UpdateOutcome cancelled;  // what the worker returns for a cancelled prompt or wait
    EXPECT_FALSE(Run([&] { op.ShowOutcome(cancelled); }).shown);
}

TEST_F(OperatorTest, AfterAStopNoBoxShowsAndAPromptAnswersCancel) {
    Win32Operator op(owner_, nullptr, stop_);
    stop_.Request();
    Answer answer = Answer::Ok;
    EXPECT_FALSE(
        Run([&] { answer = op.Prompt(ReconnectKind::PowerCycle, "Information", "x"); }).shown);
    EXPECT_EQ(answer, Answer::Cancel);
    EXPECT_FALSE(Run([&] {
                     op.ShowOutcome(MakeOutcome(OutcomeKind::CommunicationFailed, "ERROR",
                                                "NO RESPONSE @ State 1", MessageIcon::Error));
                 }).shown);
    EXPECT_EQ(op.WaitSeconds(5), Answer::Cancel);  // at once, not after 5 s
}

// Without a stop the wait lasts its seconds: the controller restarting into its bootloader is
// not looked for before then.
TEST_F(OperatorTest, AWaitLastsItsSeconds) {
    Win32Operator op(owner_, nullptr, stop_);
    const DWORD start = GetTickCount();
    EXPECT_EQ(op.WaitSeconds(1), Answer::Ok);
    EXPECT_GE(GetTickCount() - start, 900u);
}

TEST_F(OperatorTest, AStopWhileAPromptIsOpenClosesItAsCancel) {
    Win32Operator op(owner_, nullptr, stop_);
    Answer answer = Answer::Ok;
    const SeenBox box = Run(
        [&] {
            answer = op.Prompt(ReconnectKind::PowerCycle, kInformationCaption, kPowerCyclePrompt);
        },
        [&](HWND open) {  // what the window does when the operator closes it during an update
            stop_.Request();
            PostMessageA(open, WM_CLOSE, 0, 0);
        });
    EXPECT_TRUE(box.shown);
    EXPECT_EQ(answer, Answer::Cancel);
}

// One update per controller: the window's update holds its port's lock from its first open to
// its end, and an update another program holds keeps it off with "CANNOT open" and who holds it.
TEST_F(OperatorTest, ThePortsLockIsHeldForTheUpdateAndAnotherHoldersIsNamed) {
    const std::string missing = "CANNOT open COM97 Port!!!";
    const auto cannotOpen =
        MakeOutcome(OutcomeKind::PortNotOpened, kErrorCaption, missing.c_str(), MessageIcon::Error);
    Win32Operator op(owner_, nullptr, stop_);
    UpdateLock other;
    ASSERT_EQ(other.Take({"COM97"}, UpdateLock::Mode::kExclusive), UpdateLock::Status::kHeld);
    Device* device = nullptr;
    const SeenBox refused = Run([&] {
        device = op.OpenSerial("COM97");
        op.ShowOutcome(cannotOpen);
        op.EndUpdate();
    });
    EXPECT_EQ(device, &ClosedDevice());
    EXPECT_EQ(refused.text,
              missing + "\n\nCOM97: in use by another fwburn program (process " +
                  std::to_string(GetCurrentProcessId()) +
                  ", fwburn_win32_window_tests.exe; lock Global\\fwburn-update-COM97)");
    other.Release();

    // Its own update holds the lock until it ends, a missing port's open included.
    UpdateLock::Status meanwhile = UpdateLock::Status::kHeld;
    const SeenBox own = Run([&] {
        op.OpenSerial("COM97");
        meanwhile = other.Take({"com97"}, UpdateLock::Mode::kExclusive);
        op.ShowOutcome(cannotOpen);
        op.EndUpdate();
    });
    EXPECT_EQ(meanwhile, UpdateLock::Status::kBusy);
    EXPECT_EQ(own.text, missing);
    EXPECT_EQ(other.Take({"COM97"}, UpdateLock::Mode::kExclusive), UpdateLock::Status::kHeld);

    // A listed name that opens a device with no line is no port either.
    EXPECT_EQ(op.OpenSerial("NUL"), &ClosedDevice());
    op.EndUpdate();
}

// Every updater publishes its program's name beside its lock in UTF-8, as here a holder named
// "fwburn-caf\u00e9.exe" does; the window says it in its own code page.
TEST_F(OperatorTest, AHoldersNameBeyondAsciiIsSaidInTheWindowsCodePage) {
    HANDLE held = CreateMutexW(nullptr, TRUE, L"Global\\fwburn-update-COM93");
    HANDLE record = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 512,
                                       L"Global\\fwburn-update-COM93.holder");
    char* view = static_cast<char*>(MapViewOfFile(record, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_TRUE(held != nullptr && view != nullptr);
    std::snprintf(view, 512, "4242 fwburn-caf\xC3\xA9.exe");
    UnmapViewOfFile(view);
    Win32Operator op(owner_, nullptr, stop_);
    const SeenBox refused = Run([&] {
        op.OpenSerial("COM93");
        op.ShowOutcome(MakeOutcome(OutcomeKind::PortNotOpened, kErrorCaption,
                                   "CANNOT open COM93 Port!!!", MessageIcon::Error));
        op.EndUpdate();
    });
    char name[32] = {};
    WideCharToMultiByte(CP_ACP, 0, L"fwburn-caf\u00e9.exe", -1, name, sizeof name - 1, nullptr,
                        nullptr);
    EXPECT_EQ(refused.text, std::string("CANNOT open COM93 Port!!!\n\nCOM93: in use by another "
                                        "fwburn program (process 4242, ") +
                                name + "; lock Global\\fwburn-update-COM93)");
    ReleaseMutex(held);
    CloseHandle(held);
    CloseHandle(record);
}

// A port picked during the update is the one the next open takes, and it is locked as well: the
// first port stays locked until the update ends, a second pick letting go only of the first pick.
// One that another update holds is not opened, and the final message says who holds it.
TEST_F(OperatorTest, APortPickedDuringTheUpdateIsOpenedAndLockedBesideTheFirst) {
    Update update;
    update.SetPortName("COM95");
    Win32Operator op(owner_, nullptr, stop_, &update);
    UpdateLock other;
    const auto held = [&](const char* port) {
        const bool busy =
            other.Take({port}, UpdateLock::Mode::kExclusive) == UpdateLock::Status::kBusy;
        other.Release();
        return busy;
    };
    std::vector<std::string> opened;
    std::vector<bool> locks;
    const SeenBox box = Run([&] {
        for (const char* pick : {"COM95", "COM96", "COM97"}) {
            op.PickPort(pick);
            op.OpenSerial(update.portName);  // no such ports: the open fails, the locks stay
            opened.push_back(update.portName);
            for (const char* port : {"COM95", "COM96", "COM97"}) {
                locks.push_back(held(port));
            }
        }
        other.Take({"COM98"}, UpdateLock::Mode::kExclusive);
        op.PickPort("COM98");
        op.OpenSerial(update.portName);
        op.ShowOutcome(MakeOutcome(OutcomeKind::CommunicationFailed, kErrorCaption,
                                   "NO RESPONSE @ State 1", MessageIcon::Error));
        other.Release();
        op.EndUpdate();
        for (const char* port : {"COM95", "COM96", "COM97"}) {
            locks.push_back(held(port));
        }
    });
    EXPECT_EQ(opened, (std::vector<std::string>{"COM95", "COM96", "COM97"}));
    EXPECT_EQ(locks, (std::vector<bool>{true, false, false, true, true, false, true, false, true,
                                        false, false, false}));
    EXPECT_EQ(box.text.rfind("NO RESPONSE @ State 1\n\nCOM98: in use by another fwburn program", 0),
              0u)
        << box.text;
}

// A port picked again after a refused pick is locked again, and the update's end lets go of a
// picked port as well as of the first.
TEST_F(OperatorTest, APickedPortIsLockedWhenPickedAgainAndLetGoAtTheEnd) {
    using Status = UpdateLock::Status;
    Update update;
    update.SetPortName("COM91");
    Win32Operator op(owner_, nullptr, stop_, &update);
    const auto probe = [](const char* port) {
        UpdateLock other;
        return other.Take({port}, UpdateLock::Mode::kExclusive);
    };
    std::vector<Status> seen;
    Run([&] {
        op.OpenSerial("COM91");
        UpdateLock holder;  // another update's
        holder.Take({"COM93"}, UpdateLock::Mode::kExclusive);
        for (const char* pick : {"COM92", "COM93", "COM92"}) {
            op.PickPort(pick);
            op.OpenSerial(update.portName);
        }
        holder.Release();
        seen.push_back(probe("COM92"));
        op.EndUpdate();
        seen.push_back(probe("COM91"));
        seen.push_back(probe("COM92"));
    });
    EXPECT_EQ(seen, (std::vector<Status>{Status::kBusy, Status::kHeld, Status::kHeld}));
}

}  // namespace
}  // namespace fwburn

// The real window in this process, under Wine and Xvfb: the panel painters hold no graphics
// object over many ticks; Escape and Ctrl+Break reach the window and start nothing; a stand-in
// build asks before it starts; Start Burn comes back only when the worker has ended; closing
// during an update asks, and goes on or ends cleanly, and ending the session is refused then; a
// close once the outcome shows asks nothing and ends the window after the outcome's OK.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "burn/messages.hpp"
#include "catalogue/profile.hpp"
#include "ui/win32/main_window.hpp"
#include "ui/win32/painters.hpp"
#include "ui/win32/win32_operator.hpp"

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

void PumpOnce() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message != WM_QUIT) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

void PumpFor(DWORD milliseconds) {
    const DWORD until = GetTickCount() + milliseconds;
    while (static_cast<LONG>(GetTickCount() - until) < 0) {
        PumpOnce();
        Sleep(10);
    }
}

// Pumps until the condition holds, for at most `milliseconds`; whether it held.
bool PumpUntil(const std::function<bool()>& condition, DWORD milliseconds = 20000) {
    const DWORD until = GetTickCount() + milliseconds;
    while (!condition()) {
        if (static_cast<LONG>(GetTickCount() - until) >= 0) {
            return false;
        }
        PumpOnce();
        Sleep(10);
    }
    return true;
}

// The window's own message loop, until the messages posted so far are handled.
void RunLoopOverPostedMessages(HWND window) {
    PostMessageA(window, WM_QUIT, 0, 0);
    RunMessageLoop(window);
}

HWND TheWindow() {
    static HWND window = CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOW);
    return window;
}

HWND StartButton() {
    return GetDlgItem(TheWindow(), kStartButtonId);
}

std::string TextOf(HWND w) {
    char text[512] = {};
    GetWindowTextA(w, text, sizeof text);
    return text;
}

struct BoxSearch {
    HWND owner;
    const char* caption;  // nullptr: any
    HWND box;
};

BOOL CALLBACK FindBox(HWND w, LPARAM param) {
    auto* s = reinterpret_cast<BoxSearch*>(param);
    char cls[32] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") == 0 && GetWindow(w, GW_OWNER) == s->owner && IsWindowVisible(w) &&
        (s->caption == nullptr || TextOf(w) == s->caption)) {
        s->box = w;
        return FALSE;
    }
    return TRUE;
}

HWND FindMessageBox(HWND owner, const char* caption = nullptr) {
    BoxSearch s{owner, caption, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&s));
    return s.box;
}

// What a message box showed.
struct SeenBox {
    std::string caption;
    std::string text;
    int defaultButton = 0;
    bool yes = false, no = false, ok = false;
};

// On a thread of its own (the window thread is inside the box's modal loop): waits for a message
// box of the window with that caption, reads it, presses the button `press` (or Enter) and waits
// until it is gone.
class BoxAnswer {
  public:
    static constexpr int kEnter = -1;

    // Waits up to `tries` times 50 ms for the box.
    BoxAnswer(HWND owner, const char* caption, int press, int tries = 200)
        : thread_([this, owner, caption, press, tries] { Run(owner, caption, press, tries); }) {}
    ~BoxAnswer() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    bool Done() const { return done_; }
    // Pumps the window thread until the box was answered; the box as it was seen.
    SeenBox Wait() {
        PumpUntil([this] { return done_.load(); }, 30000);
        thread_.join();
        return seen_;
    }

  private:
    void Run(HWND owner, const char* caption, int press, int tries) {
        HWND box = nullptr;
        for (int i = 0; i < tries && box == nullptr; ++i) {
            box = FindMessageBox(owner, caption);
            if (box == nullptr) {
                Sleep(50);
            }
        }
        if (box != nullptr) {
            seen_.caption = TextOf(box);
            seen_.text = TextOf(GetDlgItem(box, 0xFFFF));
            for (int id : {IDOK, IDYES, IDNO}) {
                HWND b = GetDlgItem(box, id);
                if (b != nullptr &&
                    (GetWindowLongA(b, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
                    seen_.defaultButton = id;
                }
            }
            seen_.yes = GetDlgItem(box, IDYES) != nullptr;
            seen_.no = GetDlgItem(box, IDNO) != nullptr;
            seen_.ok = GetDlgItem(box, IDOK) != nullptr;
            if (press == kEnter) {  // what the operator gets who just presses Enter
                GUITHREADINFO gui{};
                gui.cbSize = sizeof gui;
                GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &gui);
                PostMessageA(gui.hwndFocus, WM_KEYDOWN, VK_RETURN, 0x001C0001);
                PostMessageA(gui.hwndFocus, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001u));
            } else {
                PostMessageA(GetDlgItem(box, press), BM_CLICK, 0, 0);
            }
            for (int i = 0; i < 200 && IsWindow(box); ++i) {
                Sleep(50);
            }
        }
        done_ = true;
    }

    SeenBox seen_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// The window's own loop (its dialog keyboard handling included) until the box was answered or
// never came; a dialog of the window still open then ends with the loop.
SeenBox RunLoopWhileAnswering(HWND window, BoxAnswer& answer) {
    const DWORD self = GetCurrentThreadId();
    std::thread quit([&] {
        while (!answer.Done()) {
            Sleep(50);
        }
        PostThreadMessageA(self, WM_QUIT, 0, 0);
    });
    RunMessageLoop(window);
    quit.join();
    return answer.Wait();
}

unsigned DroppedPresses(WPARAM key) {
    return static_cast<unsigned>(SendMessageA(TheWindow(), kDroppedKeyCountMessage, key, 0));
}

// The Start button's state changes as the window thread sees them: whether the one-worker flag
// was still taken when the button came back, and a click made at that very moment.
WNDPROC buttonProcedure = nullptr;
std::atomic<int> enabledWhileClaimed{0};
std::atomic<int> enabledFree{0};
bool clickWhenEnabled = false;

LRESULT CALLBACK WatchedButton(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ENABLE && wParam == TRUE) {
        ++(WindowWorkerRunning() ? enabledWhileClaimed : enabledFree);
        if (clickWhenEnabled) {
            clickWhenEnabled = false;
            PostMessageA(button, BM_CLICK, 0, 0);
        }
    }
    return CallWindowProcA(buttonProcedure, button, message, wParam, lParam);
}

// The main window's procedure, wrapped. The worker's messages to the window are sent: it waits
// for them. `atElapsedStop` runs once, on the window thread, when the worker has had the elapsed
// seconds stopped, just before it decides its outcome: the update runs, held there until the hook
// returns (or replies). `hideOutcome` keeps the next outcome's notice from the window.
WNDPROC windowProcedure = nullptr;
std::function<void()> atElapsedStop;
bool hideOutcome = false;

LRESULT CALLBACK WatchedWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kOutcomeMessage && hideOutcome) {
        hideOutcome = false;
        return 0;
    }
    const LRESULT result = CallWindowProcA(windowProcedure, window, message, wParam, lParam);
    if (message == kStopElapsedTimerMessage && atElapsedStop) {
        const std::function<void()> hook = std::move(atElapsedStop);
        atElapsedStop = nullptr;
        hook();
    }
    return result;
}

void WatchWindow() {
    windowProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(TheWindow(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchedWindow)));
}

void UnwatchWindow() {
    SetWindowLongPtrA(TheWindow(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(windowProcedure));
}

// Starts an update (the stand-in question answered Yes) and runs `whileRunning` while the worker
// is held before its outcome; returns when it has run. Needs WatchWindow.
void RunHeldUpdate(const std::function<void()>& whileRunning) {
    atElapsedStop = whileRunning;
    {
        BoxAnswer yes(TheWindow(), kStandInCaption, IDYES);
        PostMessageA(StartButton(), BM_CLICK, 0, 0);
        yes.Wait();
    }
    EXPECT_TRUE(PumpUntil([] { return !atElapsedStop; })) << "the update was never held";
    atElapsedStop = nullptr;
}

// When armed, a Start reaches the window just before the worker's end does, as a click taken
// between the two would.
bool startAtWorkerEnd = false;

LRESULT CALLBACK StartBeforeWorkerEnd(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kWorkerEndedMessage && startAtWorkerEnd) {
        startAtWorkerEnd = false;
        SendMessageA(window, WM_COMMAND, kStartButtonId, reinterpret_cast<LPARAM>(StartButton()));
    }
    return CallWindowProcA(windowProcedure, window, message, wParam, lParam);
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(TheWindow(), nullptr);
        // The stand-in question is part of what is tested here.
        ASSERT_TRUE(ThisBuildProfile().standInImage) << "needs a build without a real image";
        ASSERT_FALSE(WindowWorkerRunning());
        ASSERT_TRUE(IsWindowEnabled(StartButton()));
        ASSERT_EQ(FindMessageBox(TheWindow()), nullptr);
    }
};

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
    WindowUpdate().figures.progress = 37;  // a red bar and a white track at every tick
    PumpFor(3000);                         // 30 ticks of timer 6
    HDC dc = GetDC(window);
    for (int i = 0; i < 500; ++i) {
        PaintPanel(window, dc, WindowUpdate().figures, true);
    }
    ReleaseDC(window, dc);
    InvalidateRect(window, nullptr, TRUE);
    PumpFor(300);  // WM_PAINT too
    WindowUpdate().figures.progress = 0;
    EXPECT_EQ(LiveGdiObjects(), before);
}

TEST_F(WindowTest, TitleSaysTheImageIsAStandIn) {
    EXPECT_EQ(TextOf(TheWindow()),
              std::string("Korvan PLC Firmware Update Program - TEST BUILD: STAND-IN IMAGE"));
}

TEST_F(WindowTest, EscapeAndCtrlBreakReachTheWindowAndStartNothing) {
    HWND window = TheWindow();
    HWND button = StartButton();
    HWND ports = GetDlgItem(window, kPortListId);
    const struct {
        const char* name;
        WPARAM key;
        LPARAM down, up;
    } keys[] = {
        {"Escape", VK_ESCAPE, 0x00010001, static_cast<LPARAM>(0xC0010001u)},
        {"Ctrl+Break", VK_CANCEL, 0x01460001, static_cast<LPARAM>(0xC1460001u)},
    };
    for (const auto& k : keys) {
        const unsigned before = DroppedPresses(k.key);
        // To each control and to the window, through the window's own message loop.
        for (HWND target : {ports, button, window}) {
            PostMessageA(target, WM_KEYDOWN, k.key, k.down);
            PostMessageA(target, WM_KEYUP, k.key, k.up);
        }
        RunLoopOverPostedMessages(window);
        EXPECT_EQ(DroppedPresses(k.key), before + 3) << k.name << " did not reach the window";
        EXPECT_FALSE(WindowWorkerRunning()) << k.name;
        EXPECT_TRUE(IsWindowEnabled(button)) << k.name;
        PumpFor(300);
        EXPECT_EQ(FindMessageBox(window), nullptr) << k.name << " made a message box";
    }
}

TEST_F(WindowTest, EscapeClosesAnOpenPortListAndStartsNothing) {
    HWND window = TheWindow();
    HWND ports = GetDlgItem(window, kPortListId);
    SetForegroundWindow(window);
    SetFocus(ports);
    SendMessageA(ports, CB_SHOWDROPDOWN, TRUE, 0);
    ASSERT_NE(SendMessageA(ports, CB_GETDROPPEDSTATE, 0, 0), 0);
    ASSERT_EQ(GetFocus(), ports);
    const unsigned before = DroppedPresses(VK_ESCAPE);
    PostMessageA(ports, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(ports, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
    RunLoopOverPostedMessages(window);
    EXPECT_EQ(DroppedPresses(VK_ESCAPE), before + 1);
    EXPECT_EQ(SendMessageA(ports, CB_GETDROPPEDSTATE, 0, 0), 0) << "the list stayed open";
    EXPECT_FALSE(WindowWorkerRunning());
    EXPECT_TRUE(IsWindowEnabled(StartButton()));
    SendMessageA(ports, CB_SHOWDROPDOWN, FALSE, 0);
}

TEST_F(WindowTest, AStandInBuildAsksAndNoStartsNothing) {
    HWND window = TheWindow();
    WindowUpdate().figures.elapsedTime = 0;
    BoxAnswer answer(window, kStandInCaption, BoxAnswer::kEnter);  // No is the default
    PostMessageA(StartButton(), BM_CLICK, 0, 0);
    const SeenBox box = answer.Wait();
    EXPECT_EQ(box.caption, kStandInCaption);
    EXPECT_EQ(box.text, kStandInQuestion);
    EXPECT_TRUE(box.yes && box.no && !box.ok);
    EXPECT_EQ(box.defaultButton, IDNO);
    PumpFor(1500);  // more than one tick of the elapsed-seconds timer, had it been started
    EXPECT_FALSE(WindowWorkerRunning());
    EXPECT_TRUE(IsWindowEnabled(StartButton()));
    EXPECT_EQ(WindowUpdate().figures.elapsedTime.load(), 0);
    EXPECT_EQ(FindMessageBox(window), nullptr);
}

TEST_F(WindowTest, YesRunsTheUpdateAndStartComesBackOnlyWhenTheWorkerIsDone) {
    HWND window = TheWindow();
    HWND button = StartButton();
    buttonProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchedButton)));
    enabledWhileClaimed = 0;
    enabledFree = 0;
    {
        BoxAnswer yes(window, kStandInCaption, IDYES);
        PostMessageA(button, BM_CLICK, 0, 0);
        yes.Wait();
    }
    EXPECT_TRUE(WindowWorkerRunning());
    EXPECT_FALSE(IsWindowEnabled(button));  // disabled before the worker started

    // The worker finds no USB controller and says so in its one box; a click the moment Start
    // Burn comes back after its OK must be taken, not refused.
    clickWhenEnabled = true;
    BoxAnswer again(window, kStandInCaption, IDNO);  // the question that click brings
    {
        BoxAnswer ok(window, kErrorCaption, IDOK);
        EXPECT_EQ(ok.Wait().text, "CANNOT open USB Port!!!");
    }
    const SeenBox question = again.Wait();
    EXPECT_EQ(question.caption, kStandInCaption) << "the click right after OK was refused";
    EXPECT_TRUE(PumpUntil([&] { return IsWindowEnabled(button) && !WindowWorkerRunning(); }));
    EXPECT_EQ(enabledWhileClaimed.load(), 0) << "Start Burn came back before the worker was done";
    EXPECT_GE(enabledFree.load(), 1);
    // Ending the session, refused during an update, is agreed to once it is over, and the
    // machine may sleep again (Wine's one state for the process, as below).
    EXPECT_NE(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), 0);
    EXPECT_EQ(SetThreadExecutionState(0) & ES_SYSTEM_REQUIRED, 0u);
    SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(buttonProcedure));
    clickWhenEnabled = false;
}

// The keyboard's way to Start Burn: Tab to it, Enter. The Tab takes the button's default look
// away (the window names no default button), after which the dialog handling made Enter Browse.
TEST_F(WindowTest, EnterOnStartBurnReachedWithTabStartsTheUpdate) {
    HWND window = TheWindow();
    HWND button = StartButton();
    SetForegroundWindow(window);
    SetFocus(GetDlgItem(window, kPortListId));
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0x000F0001);
    PostMessageA(GetFocus(), WM_KEYUP, VK_TAB, static_cast<LPARAM>(0xC00F0001u));
    RunLoopOverPostedMessages(window);
    ASSERT_EQ(GetFocus(), button);

    BoxAnswer no(window, kStandInCaption, IDNO);  // only a Start asks this
    PostMessageA(button, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageA(button, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001u));
    EXPECT_EQ(RunLoopWhileAnswering(window, no).caption, kStandInCaption)
        << "Enter on Start Burn did not start";
    EXPECT_FALSE(WindowWorkerRunning());
}

// Enter where no button has the focus is Browse; a held Enter is one press. Its repeats reached
// the window as presses of their own: one that started an update opened the file dialog over it.
TEST_F(WindowTest, AHeldEnterIsOnePress) {
    HWND window = TheWindow();
    SetForegroundWindow(window);
    SetFocus(window);
    const struct {
        const char* name;
        LPARAM lParam;
        bool browses;
    } presses[] = {
        {"a press", 0x001C0001, true},
        {"a repeat", 0x401C0001, false},  // bit 30: the key was down already
    };
    for (const auto& p : presses) {
        BoxAnswer cancel(window, "Open", IDCANCEL, p.browses ? 200 : 20);
        PostMessageA(window, WM_KEYDOWN, VK_RETURN, p.lParam);
        EXPECT_EQ(RunLoopWhileAnswering(window, cancel).caption, p.browses ? "Open" : "") << p.name;
        EXPECT_FALSE(WindowWorkerRunning()) << p.name;
    }
}

// The window has no sizing border, yet another program can size it: smaller, it hid the panel and
// Start Burn. Its size stays; it still minimises and comes back whole.
TEST_F(WindowTest, KeepsItsSizeWhenAnotherProgramSizesIt) {
    HWND window = TheWindow();
    const auto size = [window] {
        RECT r{};
        GetWindowRect(window, &r);
        return std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
    };
    const std::string fixed = std::to_string(kWindowWidth) + "x" + std::to_string(kWindowHeight);
    // Without WM_WINDOWPOSCHANGING too, which carries the size limits.
    for (const UINT flags : {0u, static_cast<UINT>(SWP_NOSENDCHANGING)}) {
        for (const SIZE asked : {SIZE{120, 60}, SIZE{1000, 700}}) {
            SetWindowPos(window, nullptr, 0, 0, asked.cx, asked.cy,
                         SWP_NOMOVE | SWP_NOZORDER | flags);
            EXPECT_EQ(size(), fixed) << "asked " << asked.cx << "x" << asked.cy << " " << flags;
        }
    }
    for (int show : {SW_MAXIMIZE, SW_RESTORE, SW_MINIMIZE, SW_RESTORE}) {
        ShowWindow(window, show);
        EXPECT_EQ(IsIconic(window) != FALSE, show == SW_MINIMIZE) << "show " << show;
        if (show != SW_MINIMIZE) {
            EXPECT_EQ(size(), fixed) << "show " << show;
        }
    }
}

// The dialogs made on this thread while a hook of it is set; each is cancelled as it comes.
int dialogsMade = 0;

LRESULT CALLBACK CancelDialogs(int code, WPARAM wParam, LPARAM lParam) {
    char cls[16] = {};
    if (code == HCBT_ACTIVATE &&
        GetClassNameA(reinterpret_cast<HWND>(wParam), cls, sizeof cls) != 0 &&
        lstrcmpA(cls, "#32770") == 0) {
        ++dialogsMade;
        PostMessageA(reinterpret_cast<HWND>(wParam), WM_COMMAND, IDCANCEL, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Browse as the dialog handling makes it of Enter: whether it opened the file dialog.
bool Browses(HWND window) {
    dialogsMade = 0;
    HHOOK hook = SetWindowsHookExA(WH_CBT, CancelDialogs, nullptr, GetCurrentThreadId());
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(kBrowseCommand, BN_CLICKED), 0);
    UnhookWindowsHookEx(hook);
    return dialogsMade != 0;
}

// Start Burn is disabled during an update, so Enter there is always Browse: its file dialog
// covered the panel, and the outcome came beside it. Once the update is over Enter browses again.
TEST_F(WindowTest, NoFileDialogOverAnUpdate) {
    HWND window = TheWindow();
    WatchWindow();
    RunHeldUpdate(
        [&] { EXPECT_FALSE(Browses(window)) << "the file dialog opened over the update"; });
    {
        BoxAnswer ok(window, kErrorCaption, IDOK);
        EXPECT_EQ(ok.Wait().text, "CANNOT open USB Port!!!");
    }
    UnwatchWindow();
    ASSERT_TRUE(
        PumpUntil([&] { return IsWindowEnabled(StartButton()) && !WindowWorkerRunning(); }));
    EXPECT_TRUE(Browses(window));
}

// The worker's last box, answered under an open close question, enabled the window (its owner)
// again: a Start then ran an update that the question's Yes stopped half-way. The window asks
// nothing once it knows the outcome, and withdraws an open question then: the two meet only when
// the outcome's notice is missed, as it is kept from the window here.
TEST_F(WindowTest, NoStartUnderTheCloseQuestionAfterTheWorkerEnded) {
    HWND window = TheWindow();
    HWND button = StartButton();
    WatchWindow();
    hideOutcome = true;
    {
        BoxAnswer yes(window, kStandInCaption, IDYES);
        PostMessageA(button, BM_CLICK, 0, 0);
        yes.Wait();
    }
    ASSERT_TRUE(PumpUntil([&] { return FindMessageBox(window, kErrorCaption) != nullptr; }));
    std::string seen;  // what the operator could do under the question
    std::thread op([&] {
        HWND question = nullptr;
        for (int i = 0; i < 200 && (question = FindMessageBox(window, kCloseCaption)) == nullptr;
             ++i) {
            Sleep(50);
        }
        PostMessageA(GetDlgItem(FindMessageBox(window, kErrorCaption), IDOK), BM_CLICK, 0, 0);
        Sleep(1500);  // the worker ends; the window thread takes its end inside the question
        seen += IsWindowEnabled(button) ? "enabled " : "";
        const struct {
            HWND to;
            UINT message;
            WPARAM wParam;
            LPARAM lParam;
        } starts[] = {{button, BM_CLICK, 0, 0},  // the button, and its command
                      {window, WM_COMMAND, kStartButtonId, reinterpret_cast<LPARAM>(button)}};
        for (const auto& start : starts) {
            PostMessageA(start.to, start.message, start.wParam, start.lParam);
            Sleep(1000);
            if (HWND asked = FindMessageBox(window, kStandInCaption)) {
                seen += "started ";
                PostMessageA(GetDlgItem(asked, IDNO), BM_CLICK, 0, 0);
                Sleep(500);
            }
        }
        PostMessageA(GetDlgItem(question, IDNO), BM_CLICK, 0, 0);
    });
    PostMessageA(window, WM_CLOSE, 0, 0);
    PumpUntil([&] { return FindMessageBox(window) == nullptr && IsWindowEnabled(button); });
    op.join();
    UnwatchWindow();
    EXPECT_FALSE(hideOutcome) << "the outcome's notice never came";
    EXPECT_EQ(seen, "");
    EXPECT_TRUE(IsWindowEnabled(button)) << "Start Burn did not come back after No";
    EXPECT_FALSE(WindowWorkerRunning());
}

// The close question, open when the update's outcome was decided, said an update was running
// beside the outcome's box, and its Yes took that box away unread: it is withdrawn as a No.
TEST_F(WindowTest, TheOutcomeWithdrawsAnOpenCloseQuestion) {
    HWND window = TheWindow();
    WatchWindow();
    bool closedDuringUpdate = false;
    atElapsedStop = [&] {
        closedDuringUpdate = WindowWorkerRunning();
        ReplyMessage(0);  // the worker goes on while the question is open
        SendMessageA(window, WM_CLOSE, 0, 0);
    };
    bool besideTheOutcome = false;
    std::string outcome;
    std::thread op([&] {
        HWND box = nullptr;
        for (int i = 0; i < 400 && (box = FindMessageBox(window, kErrorCaption)) == nullptr; ++i) {
            Sleep(50);
        }
        Sleep(1500);  // time for the question to go
        if (HWND question = FindMessageBox(window, kCloseCaption)) {
            besideTheOutcome = true;
            PostMessageA(GetDlgItem(question, IDNO), BM_CLICK, 0, 0);
            Sleep(500);
        }
        outcome = TextOf(GetDlgItem(box, 0xFFFF));
        PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    });
    {
        BoxAnswer yes(window, kStandInCaption, IDYES);
        PostMessageA(StartButton(), BM_CLICK, 0, 0);
        yes.Wait();
    }
    EXPECT_TRUE(PumpUntil([&] {
        return !WindowWorkerRunning() && IsWindowEnabled(StartButton()) &&
               FindMessageBox(window) == nullptr;
    }));
    op.join();
    UnwatchWindow();
    EXPECT_TRUE(closedDuringUpdate) << "the question was never asked";
    EXPECT_FALSE(besideTheOutcome) << "the question stayed open beside the outcome";
    EXPECT_EQ(outcome, "CANNOT open USB Port!!!");
    EXPECT_TRUE(IsWindow(window));
}

// A Start taken after the worker had ended but before the window had joined it started a new
// worker in its place, whose end the window then waited for on the thread that worker needed.
TEST_F(WindowTest, AStartBeforeTheWorkersEndIsTakenIsRefused) {
    HWND window = TheWindow();
    windowProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StartBeforeWorkerEnd)));
    {
        BoxAnswer yes(window, kStandInCaption, IDYES);
        PostMessageA(StartButton(), BM_CLICK, 0, 0);
        yes.Wait();
    }
    startAtWorkerEnd = true;
    BoxAnswer again(window, kStandInCaption, IDNO, 100);  // the question a taken Start asks
    {
        BoxAnswer ok(window, kErrorCaption, IDOK);
        EXPECT_EQ(ok.Wait().text, "CANNOT open USB Port!!!");
    }
    EXPECT_TRUE(PumpUntil([&] { return !startAtWorkerEnd && again.Done(); }));
    EXPECT_EQ(again.Wait().caption, "") << "a Start was taken before the worker's end";
    EXPECT_TRUE(
        PumpUntil([&] { return IsWindowEnabled(StartButton()) && !WindowWorkerRunning(); }));
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(windowProcedure));
}

// Ends the window: the last test of the program's run in wine.window.
TEST_F(WindowTest, ClosingDuringAnUpdateAsksNoGoesOnYesEndsTheWorkerAndTheWindow) {
    HWND window = TheWindow();
    WatchWindow();
    // No, the default: the update goes on to its end and shows its outcome.
    RunHeldUpdate([&] {
        ASSERT_TRUE(WindowWorkerRunning());
        // Nor may the machine sleep. Wine keeps one execution state for the process, so this
        // thread's query (no ES_CONTINUOUS: it changes nothing) reads what the worker asked for.
        EXPECT_EQ(SetThreadExecutionState(0) & (ES_CONTINUOUS | ES_SYSTEM_REQUIRED),
                  ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
        // A log-off or shutdown would end the program mid-update without a word.
        EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), 0);

        BoxAnswer no(window, kCloseCaption, BoxAnswer::kEnter);  // No is the default
        PostMessageA(window, WM_CLOSE, 0, 0);
        const SeenBox box = no.Wait();
        EXPECT_EQ(box.caption, kCloseCaption);
        EXPECT_EQ(box.text,
                  "An update is running. Closing now stops it and leaves the PLC in its "
                  "bootloader; run the update again to recover it. Close anyway?");
        EXPECT_TRUE(box.yes && box.no && !box.ok);
        EXPECT_EQ(box.defaultButton, IDNO);
        EXPECT_TRUE(IsWindow(window));
        EXPECT_TRUE(WindowWorkerRunning());
    });
    {
        BoxAnswer ok(window, kErrorCaption, IDOK);
        EXPECT_EQ(ok.Wait().text, "CANNOT open USB Port!!!");
    }
    ASSERT_TRUE(
        PumpUntil([&] { return IsWindowEnabled(StartButton()) && !WindowWorkerRunning(); }));

    // Yes, from the system menu's Close: the worker stops short of its outcome, which never
    // shows; it ends, then the window.
    RunHeldUpdate([&] {
        BoxAnswer yes(window, kCloseCaption, IDYES);
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(yes.Wait().caption, kCloseCaption);
    });
    bool shown = false;
    EXPECT_TRUE(PumpUntil(
        [&] {
            shown = shown || FindMessageBox(window) != nullptr;
            return !IsWindow(window);
        },
        5000));
    EXPECT_FALSE(shown) << "a message came after Yes";
    EXPECT_FALSE(WindowWorkerRunning());
}

// A close that came while the update's outcome was shown (a script, taskkill, a session manager:
// the window is disabled under the box) asked whether to stop an update that had ended, and its
// Yes took the outcome away unread; taskkill's close of the box itself took it away as its OK.
// Nothing is asked: the outcome stays until its OK, then the window ends as it would have, and its
// loop with status 0. It ends the window too, so it runs in a process of its own
// (wine.window_close_at_outcome; wine.window runs the others).
TEST_F(WindowTest, ACloseWhileTheOutcomeIsShownWaitsForItsOkThenEndsTheWindow) {
    HWND window = TheWindow();
    {
        BoxAnswer yes(window, kStandInCaption, IDYES);
        PostMessageA(StartButton(), BM_CLICK, 0, 0);
        yes.Wait();
    }
    ASSERT_TRUE(PumpUntil([&] { return FindMessageBox(window, kErrorCaption) != nullptr; }));
    const DWORD self = GetCurrentThreadId();
    std::string seen;  // what the operator met, in order
    std::thread op([&] {
        HWND outcome = FindMessageBox(window, kErrorCaption);
        // As taskkill without /F does: to every top-level window of the process, the box too.
        PostMessageA(window, WM_CLOSE, 0, 0);
        PostMessageA(outcome, WM_CLOSE, 0, 0);
        Sleep(1500);  // time for a question to come
        if (HWND question = FindMessageBox(window, kCloseCaption)) {
            seen += "asked; ";
            PostMessageA(GetDlgItem(question, IDNO), BM_CLICK, 0, 0);
            Sleep(500);
        }
        seen += IsWindow(outcome) ? "[" + TextOf(GetDlgItem(outcome, 0xFFFF)) + "]" : "unread";
        PostMessageA(GetDlgItem(outcome, IDOK), BM_CLICK, 0, 0);
        HWND other = nullptr;
        for (int i = 0; i < 200 && IsWindow(window); ++i) {
            HWND box = FindMessageBox(window);
            if (other == nullptr && box != nullptr && box != outcome) {
                other = box;
                seen += "; then [" + TextOf(box) + "]";
            }
            Sleep(50);
        }
        if (IsWindow(window)) {
            seen += "; the window stayed";
            PostThreadMessageA(self, WM_QUIT, 1, 0);
        }
    });
    const int status = RunMessageLoop(window);
    op.join();
    EXPECT_EQ(seen, "[CANNOT open USB Port!!!]");
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(WindowWorkerRunning());
}

}  // namespace
}  // namespace fwburn

#include "ui/win32/main_window.hpp"

#include <commdlg.h>
#include <process.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "burn/burn.hpp"
#include "burn/messages.hpp"
#include "catalogue/catalogue.hpp"
#include "catalogue/profile.hpp"
#include "link/win32/discovery.hpp"
#include "ui/win32/key_filter.hpp"
#include "ui/win32/painters.hpp"
#include "ui/win32/start_command.hpp"
#include "ui/win32/stop_signal.hpp"
#include "ui/win32/win32_operator.hpp"

namespace fwburn {

HWND hComPortList = nullptr;
HWND hwndFilePath = nullptr;
int isFileChosed = 0;
char szFile[MAX_PATH] = {};

const char kCloseCaption[] = "WARNING";
const char kCloseQuestion[] =
    "An update is running. Closing now stops it and leaves the PLC in its bootloader; run the "
    "update again to recover it. Close anyway?";
const wchar_t kEndSessionReason[] =
    L"A firmware update is running: ending the session now would leave the PLC in its bootloader.";

namespace {

OPENFILENAMEA ofn;

constexpr int kIconId = 1;
// After the operator said Yes to closing during an update, the window waits this long for the
// worker to end and close the port; then it ends anyway, and Windows closes the port with the
// process.
constexpr UINT_PTR kCloseTimerId = 7;
constexpr UINT kCloseGraceMs = 10000;

// The burn worker of this window: its thread (null when none runs) and the stop the window asks
// of it when it is closed during an update.
struct Worker {
    HANDLE thread = nullptr;
    unsigned threadId = 0;
    StopSignal stop;
    bool closing = false;       // the operator chose to close: the window ends with the worker
    bool asking = false;        // the close question is open
    bool withdrawn = false;     // the outcome was decided while it was open: its answer is No
    bool outcomeShown = false;  // its outcome is decided and shown: the update is over
};

// Everything the window keeps, for the life of the process. Only the window thread touches it,
// except the update and the flag while a worker runs (the update's figures are atomic; the job is
// set before the worker starts and not touched again until the flag is free).
struct WindowState {
    HWND mainWindow = nullptr;
    HWND startButton = nullptr;
    Update update;  // the one update of this window: its painter reads these figures
    WorkerFlag workerFlag;
    Worker worker;
    std::unique_ptr<Win32Operator> op;
    int modelRow = -1;       // the catalogue row of the model the list shows
    char portText[64] = {};  // the selected entry of the port list
    int portCount = 0;       // entries the port list holds
    // Presses of Escape and Ctrl+Break kept from the dialog keyboard handling.
    unsigned droppedEscapes = 0;
    unsigned droppedBreaks = 0;
};
WindowState state;

unsigned __stdcall BurnThread(void* param) {
    auto* w = static_cast<WindowState*>(param);
    const HWND mainWindow = w->mainWindow;
    const HWND button = w->startButton;
    // A machine that sleeps mid-update leaves the controller erased: it stays awake while this
    // thread updates (the display may still turn off).
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    StartBurn(w->update);
    SetThreadExecutionState(ES_CONTINUOUS);
    w->op->EndUpdate();
    // The window gives the flag up once it has joined this thread: a Start taken before that
    // would put a new worker in this one's place, whose end the window would then wait for on
    // its own thread, which that worker needs. Without the window's message it goes here.
    if (!PostMessageA(mainWindow, kWorkerEndedMessage, 0, 0)) {
        w->workerFlag.Release();
        if (!w->worker.stop.Requested()) {
            EnableWindow(button, TRUE);
        }
    }
    return 0;
}

// The job of the window's update, set on the window thread before its worker starts: this
// build's image, the model the list shows, the selected port.
void SetJob(WindowState& w, bool standInAllowed) {
    Update& u = w.update;
    u.op = w.op.get();
    u.UseThisBuild();
    u.row = w.modelRow;
    u.SetPortName(w.portText);
    u.standInAllowed = standInAllowed;
    u.sink = nullptr;  // the painter reads the figures
}

class WindowStartActions final : public StartActions {
  public:
    WindowStartActions(HWND mainWindow, HWND button) : mainWindow_(mainWindow), button_(button) {}

    void EnableStart(bool enabled) override { EnableWindow(button_, enabled ? TRUE : FALSE); }
    void StartElapsedTimer() override { SetTimer(mainWindow_, kElapsedTimerId, 1000, nullptr); }
    void StopElapsedTimer() override { KillTimer(mainWindow_, kElapsedTimerId); }
    bool ConfirmStandIn() override {
        return MessageBoxA(mainWindow_, kStandInQuestion, kStandInCaption,
                           MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
    }
    bool StartWorker(bool standInAllowed) override {
        SetJob(state, standInAllowed);
        state.worker.outcomeShown = false;
        unsigned id = 0;
        const uintptr_t thread = _beginthreadex(nullptr, 0, BurnThread, &state, 0, &id);
        if (thread == 0) {
            return false;
        }
        state.worker.thread = reinterpret_cast<HANDLE>(thread);
        state.worker.threadId = id;
        ShutdownBlockReasonCreate(mainWindow_, kEndSessionReason);
        return true;
    }
    void ShowError(const char* caption, const char* text) override {
        MessageBoxA(mainWindow_, text, caption, MB_OK | MB_ICONERROR);
    }

  private:
    HWND mainWindow_;
    HWND button_;
};

BOOL CALLBACK CloseWorkerBox(HWND w, LPARAM) {
    char cls[16] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") == 0) {
        PostMessageA(w, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

// The operator asked to close the window. With no update running it closes; during one it asks,
// and on Yes stops the worker, which ends its update at once and closes the port. Once the
// outcome shows there is nothing to ask or stop, and closing now would take the outcome away
// unread: the window closes with the worker, when the operator has answered it.
void OnClose(HWND window) {
    Worker& worker = state.worker;
    if (worker.closing || worker.asking) {
        return;
    }
    if (worker.thread != nullptr && worker.outcomeShown) {
        worker.closing = true;
        return;
    }
    if (worker.thread != nullptr) {
        worker.asking = true;
        worker.withdrawn = false;
        const int answer = MessageBoxA(window, kCloseQuestion, kCloseCaption,
                                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
        worker.asking = false;
        // A Yes clicked after the outcome was decided came too late: it is the No sent for it.
        if (answer != IDYES || worker.withdrawn) {
            if (worker.thread == nullptr) {  // it ended while the question was open
                EnableWindow(state.startButton, TRUE);
            }
            return;
        }
    }
    if (worker.thread == nullptr) {  // none ran, or it ended while the question was open
        DestroyWindow(window);
        return;
    }
    worker.closing = true;
    worker.stop.Request();
    // A read under way would otherwise run to its time-out; a message the worker shows is
    // closed (the stopped operator takes it as cancelled).
    CancelSynchronousIo(worker.thread);
    EnumThreadWindows(worker.threadId, CloseWorkerBox, 0);
    EnableWindow(window, FALSE);
    SetTimer(window, kCloseTimerId, kCloseGraceMs, nullptr);
}

// The close question of this window, when it is open: the file dialog is a #32770 here too.
BOOL CALLBACK FindCloseQuestion(HWND w, LPARAM param) {
    char cls[16] = {};
    char caption[16] = {};
    GetClassNameA(w, cls, sizeof cls);
    GetWindowTextA(w, caption, sizeof caption);
    if (lstrcmpA(cls, "#32770") == 0 && GetWindow(w, GW_OWNER) == state.mainWindow &&
        lstrcmpA(caption, kCloseCaption) == 0) {
        *reinterpret_cast<HWND*>(param) = w;
        return FALSE;
    }
    return TRUE;
}

// The worker is about to show the update's outcome. A close question still open says that an
// update runs and that Yes would leave the PLC in its bootloader, and its Yes would take the
// outcome away unread: it is answered No, and the operator reads the outcome alone.
void OnOutcomeDecided(HWND window) {
    Worker& worker = state.worker;
    worker.outcomeShown = true;
    if (!worker.asking) {
        return;
    }
    worker.withdrawn = true;
    HWND question = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindCloseQuestion, reinterpret_cast<LPARAM>(&question));
    if (question != nullptr) {
        PostMessageA(question, WM_COMMAND, IDNO, 0);  // a Yes/No box ignores WM_CLOSE
    } else {
        PostMessageA(window, kOutcomeMessage, 0, 0);  // not made yet: again from its own loop
    }
}

void OnWorkerEnded(HWND window) {
    Worker& worker = state.worker;
    if (worker.thread != nullptr) {
        WaitForSingleObject(worker.thread, INFINITE);  // it posted this as its last act
        CloseHandle(worker.thread);
        worker.thread = nullptr;
        worker.threadId = 0;
        ShutdownBlockReasonDestroy(window);
    }
    state.workerFlag.Release();  // before Start Burn may come back: a click then finds it free
    if (worker.closing) {
        DestroyWindow(window);
        return;
    }
    // The worker's last message box, closing, enabled this window under the close question: a
    // Start now would run an update that the pending Yes then stops. The answer brings it back.
    if (!worker.asking) {
        EnableWindow(state.startButton, TRUE);
    }
}

// Keeps the text of the selected port-list entry: the next serial open takes it, also the reopen
// of an update under way.
void TakeSelectedPort() {
    const LRESULT index = SendMessageA(hComPortList, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) {
        return;
    }
    char text[sizeof state.portText] = {};
    const LRESULT length =
        SendMessageA(hComPortList, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR || length >= static_cast<LRESULT>(sizeof text)) {
        return;
    }
    SendMessageA(hComPortList, CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text));
    std::memcpy(state.portText, text, sizeof text);
    state.op->PickPort(text);
}

void Browse(HWND mainWindow) {
    char remembered[MAX_PATH] = {};
    if (isFileChosed != 0) {
        std::memcpy(remembered, szFile, sizeof szFile);
    }
    std::memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = mainWindow;
    ofn.lpstrFile = szFile;
    szFile[0] = '\0';
    ofn.nMaxFile = sizeof szFile;
    ofn.lpstrFilter = "Binary File (*.bin)\0*.bin\0All (*.*)\0*.*\0";
    ofn.nFilterIndex = 1;
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (GetOpenFileNameA(&ofn)) {
        szFile[sizeof szFile - 1] = '\0';
        char text[sizeof "Path: " + MAX_PATH];
        std::snprintf(text, sizeof text, "Path: %s", szFile);
        if (hwndFilePath != nullptr) {
            SetWindowTextA(hwndFilePath, text);
        }
        // Nothing chosen here reaches an update: the worker always takes the built-in image.
        isFileChosed = 1;
    } else if (remembered[0] != '\0') {
        std::memcpy(szFile, remembered, sizeof szFile);
    }
}

void OnCommand(HWND mainWindow, int notification, int id, HWND sender) {
    if (id == kPortListId) {
        if (notification == CBN_SELCHANGE) {
            TakeSelectedPort();
        }
        return;
    }
    if (id == kBrowseCommand && notification == 0) {
        // Start Burn is disabled during an update, so every Enter is Browse then: its dialog
        // would cover the panel, and the outcome would come beside it.
        if (state.workerFlag.Claimed()) {
            MessageBeep(MB_ICONWARNING);
            return;
        }
        Browse(mainWindow);
        return;
    }
    if (id != kStartButtonId) {
        return;
    }
    if (state.worker.asking) {  // a Start under the close question, as during an update
        MessageBeep(MB_ICONWARNING);
        return;
    }
    const StartOrigin origin{notification, sender != nullptr && sender == state.startButton};
    WindowStartActions actions(mainWindow, state.startButton);
    switch (StartCommand(origin, ThisBuildProfile().standInImage, state.workerFlag,
                         state.update.figures, actions)) {
        case StartOutcome::Started:
            isFileChosed = 1;
            break;
        case StartOutcome::Busy:
            MessageBeep(MB_ICONWARNING);
            break;
        case StartOutcome::NotAClick:
        case StartOutcome::Declined:
        case StartOutcome::ThreadFailed:
            break;
    }
}

void PaintTick(HWND window) {
    HDC dc = GetDC(window);
    if (dc != nullptr) {
        PaintPanel(window, dc, state.update.figures, true);
        ReleaseDC(window, dc);
    }
}

// Fixes the model from the built-in image name; a name that is no catalogue model selects the
// first entry of the sorted list. Returns the catalogue row of the model shown.
int FixModel(HWND modelList) {
    for (int row = 0; row < kModelCount; ++row) {
        SendMessageA(modelList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ModelName(row)));
    }
    char model[10];
    ImageNameModel(ThisBuildProfile().imageName, model);
    const LRESULT found = model[0] == '\0'
                              ? CB_ERR
                              : SendMessageA(modelList, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                             reinterpret_cast<LPARAM>(model));
    // The list's search ignores case: the model is the list's own text of the entry selected.
    const WPARAM index = found != CB_ERR ? static_cast<WPARAM>(found) : 0;
    SendMessageA(modelList, CB_SETCURSEL, index, 0);
    char text[kModelNameSlot] = {};
    if (SendMessageA(modelList, CB_GETLBTEXTLEN, index, 0) < kModelNameSlot) {
        SendMessageA(modelList, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    }
    std::memcpy(model, text, sizeof model - 1);
    model[sizeof model - 1] = '\0';
    EnableWindow(modelList, FALSE);
    return FindModelRow(model);
}

HWND CreateChild(HWND parent, HINSTANCE instance, const char* className, const char* text,
                 DWORD style, int x, int y, int width, int height, int id) {
    return CreateWindowExA(0, className, text, style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

}  // namespace

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:  // the close box, Alt+F4, the system menu
            OnClose(window);
            return 0;
        case WM_GETMINMAXINFO: {
            // No sizing border, yet another program can size the window: smaller, it would hide
            // the panel and Start Burn. Minimising is not sizing: it goes on.
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            limits->ptMinTrackSize = POINT{kWindowWidth, kWindowHeight};
            limits->ptMaxTrackSize = POINT{kWindowWidth, kWindowHeight};
            return 0;
        }
        case WM_WINDOWPOSCHANGED: {
            // A sizing that skips WM_WINDOWPOSCHANGING skips the limits above too: set back.
            const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
            if ((pos->flags & (SWP_NOSENDCHANGING | SWP_NOSIZE)) == SWP_NOSENDCHANGING &&
                !IsIconic(window) && (pos->cx != kWindowWidth || pos->cy != kWindowHeight)) {
                SetWindowPos(window, nullptr, 0, 0, kWindowWidth, kWindowHeight,
                             SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
            return DefWindowProcA(window, message, wParam, lParam);  // WM_SIZE and WM_MOVE
        }
        case WM_QUERYENDSESSION:
            // A log-off or shutdown would end the worker mid-update, the PLC left erased and no
            // one told: the session waits for the update (Windows shows the reason given at its
            // start).
            return state.worker.thread == nullptr ? TRUE : FALSE;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            PaintPanel(window, dc, state.update.figures, false);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_TIMER:
            if (wParam == kElapsedTimerId) {
                state.update.figures.elapsedTime += 1;
            } else if (wParam == kPanelTimerId) {
                PaintTick(window);
            } else if (wParam == kCloseTimerId) {
                DestroyWindow(window);
            }
            return 0;
        case kStopElapsedTimerMessage:
            KillTimer(window, kElapsedTimerId);
            return 0;
        case kOutcomeMessage:
            OnOutcomeDecided(window);
            return 0;
        case kWorkerEndedMessage:
            OnWorkerEnded(window);
            return 0;
        case kDroppedKeyCountMessage:
            return wParam == VK_ESCAPE   ? state.droppedEscapes
                   : wParam == VK_CANCEL ? state.droppedBreaks
                                         : 0;
        case WM_COMMAND:
            OnCommand(window, HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam));
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

HWND CreateMainWindow(HINSTANCE instance, int showState) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = WindowProcedure;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kIconId));
    wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(kIconId));
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_SCROLLBAR + 1));
    wc.lpszClassName = szClassName;
    if (!RegisterClassExA(&wc)) {
        return nullptr;
    }
    char title[sizeof kWindowTitle + 64];
    std::snprintf(title, sizeof title, "%s%s%s", kWindowTitle,
                  ThisBuildProfile().standInImage ? " - " : "",
                  ThisBuildProfile().standInImage ? kStandInCaption : "");
    HWND mainWindow = CreateWindowExA(
        0, szClassName, title, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
        CW_USEDEFAULT, kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
    if (mainWindow == nullptr) {
        return nullptr;
    }
    state.mainWindow = mainWindow;
    state.startButton = CreateChild(mainWindow, instance, "BUTTON", "Start Burn",
                                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 10, 60,
                                    100, 30, kStartButtonId);
    HWND modelList = CreateChild(mainWindow, instance, "COMBOBOX", "",
                                 WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP |
                                     CBS_DROPDOWNLIST | CBS_AUTOHSCROLL | CBS_SORT | CBS_HASSTRINGS,
                                 10, 20, 100, 200, kModelListId);
    state.modelRow = FixModel(modelList);
    hComPortList = CreateChild(mainWindow, instance, "COMBOBOX", "",
                               WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST |
                                   CBS_SORT | CBS_HASSTRINGS,
                               160, 20, 100, 200, kPortListId);
    state.portCount = IsUsbLinked(state.modelRow) ? EnumUSBPort(hComPortList, state.portCount)
                                                  : EnumComPort(hComPortList, state.portCount);
    state.op = std::make_unique<Win32Operator>(mainWindow, state.startButton, state.worker.stop,
                                               &state.update);
    SendMessageA(hComPortList, CB_SETCURSEL, 0, 0);
    TakeSelectedPort();
    SetTimer(mainWindow, kPanelTimerId, 100, nullptr);
    ShowWindow(mainWindow, showState);
    return mainWindow;
}

Update& WindowUpdate() {
    return state.update;
}

bool WindowWorkerRunning() {
    return state.workerFlag.Claimed();
}

int RunMessageLoop(HWND mainWindow) {
    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        const KeyRoute route = RouteKeyMessage(msg, mainWindow, GetFocus());
        if (route != KeyRoute::Dialog) {
            if (IsDroppedKeyPress(msg)) {
                ++(msg.wParam == VK_ESCAPE ? state.droppedEscapes : state.droppedBreaks);
            }
            if (route == KeyRoute::Control) {
                DispatchMessageA(&msg);
            }
            continue;
        }
        // Enter on the focused Start Burn is its click. The dialog handling would make it Browse
        // once a Tab has brought the focus there: the window names no default button, so the
        // Tab takes the button's default look away.
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN && msg.hwnd == state.startButton) {
            SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(kStartButtonId, BN_CLICKED),
                         reinterpret_cast<LPARAM>(msg.hwnd));
            continue;
        }
        if (!IsDialogMessageA(mainWindow, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    // Closed while a worker that did not stop within its grace still runs: it uses this window's
    // state, which the runtime's exit would tear down under it. The process ends here instead.
    if (state.worker.thread != nullptr &&
        WaitForSingleObject(state.worker.thread, 0) != WAIT_OBJECT_0) {
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(msg.wParam));
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace fwburn

#include "ui/win32/win32_operator.hpp"

#include <cstdio>

#include "link/win32/code_page.hpp"
#include "link/win32/port_identity.hpp"
#include "link/win32/usb_search.hpp"
#include "ui/win32/operator_box.hpp"

namespace fwburn {

Answer Win32Operator::Show(const char* caption, const char* text, MessageIcon icon) {
    if (stop_.Requested()) {
        return Answer::Cancel;
    }
    const UINT style = MB_OK | (icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION);
    OperatorMessageBox(mainWindow_, text, caption, style, stop_.flag());
    return stop_.Requested() ? Answer::Cancel : Answer::Ok;
}

Answer Win32Operator::Prompt(ReconnectKind, const char* caption, const char* text) {
    return Show(caption, text, MessageIcon::Information);
}

void Win32Operator::ShowOutcome(const UpdateOutcome& outcome) {
    if (!outcome.shown()) {  // a cancelled update ends without a message
        return;
    }
    // Sent, not posted: a Yes to the close question that the window took first stops the worker,
    // and Show below then shows nothing.
    SendMessageA(mainWindow_, kOutcomeMessage, 0, 0);
    // A refused lock is why the port did not open, or why a reopen on a port picked during the
    // update brought no answer: the message says who holds it.
    if (!refusal_.empty()) {
        Show(outcome.caption, (std::string(outcome.text) + "\n\n" + refusal_).c_str(),
             outcome.icon);
        return;
    }
    Show(outcome.caption, outcome.text, outcome.icon);
}

void Win32Operator::EnableStart(bool enabled) {
    if (!enabled) {
        EnableWindow(startButton_, FALSE);
    }
}

void Win32Operator::StopElapsedTimer() {
    SendMessageA(mainWindow_, kStopElapsedTimerMessage, 0, 0);
}

Answer Win32Operator::WaitSeconds(int seconds) {
    return stop_.Wait(static_cast<DWORD>(seconds) * 1000u) ? Answer::Cancel : Answer::Ok;
}

Device* Win32Operator::Hold(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) {
        return &ClosedDevice();
    }
    device_.Attach(handle);
    if (stop_.Requested()) {  // asked to stop while the open was under way
        device_.Close();
        return &ClosedDevice();
    }
    return &link_;
}

bool Win32Operator::Lock(const std::string& identity, const std::string& what) {
    if (identity == locked_ || identity == pickedLocked_) {
        return true;
    }
    // The first port stays locked while another is tried: its controller may be ours yet.
    const bool first = locked_.empty();
    UpdateLock& lock = first ? lock_ : pickedLock_;
    std::string& held = first ? locked_ : pickedLocked_;
    held.clear();  // a Take lets go of what the lock held before
    if (lock.Take({identity}, UpdateLock::Mode::kExclusive) != UpdateLock::Status::kHeld) {
        // Every updater names itself to the others in UTF-8; the window's words are in the ANSI
        // code page, the port's name as listed included.
        refusal_ = Recode(lock.Refusal(Recode(what, CP_ACP, CP_UTF8)), CP_UTF8, CP_ACP);
        return false;
    }
    held = identity;
    refusal_.clear();
    return true;
}

void Win32Operator::EndUpdate() {
    lock_.Release();
    pickedLock_.Release();
    locked_.clear();
    pickedLocked_.clear();
    refusal_.clear();
}

void Win32Operator::PickPort(const char* name) {
    std::lock_guard<std::mutex> guard(pickMutex_);
    std::snprintf(picked_, sizeof picked_, "%s", name);
}

// The port picked last is opened, and the update's messages name it from now on.
Device* Win32Operator::OpenSerial(const char* portName) {
    {
        std::lock_guard<std::mutex> guard(pickMutex_);
        if (update_ != nullptr && picked_[0] != '\0') {
            update_->SetPortName(picked_);
            portName = update_->portName;
        }
    }
    if (stop_.Requested() || !Lock(PortKey(portName), portName)) {
        return &ClosedDevice();
    }
    HANDLE handle = OpenSerialPort(portName);
    // A listed name that opens no serial port (NUL, say) would end as a controller that never
    // answered: it is a port that cannot be opened.
    if (handle != INVALID_HANDLE_VALUE && !IsSerialPort(handle)) {
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    return Hold(handle);
}

// The window takes whichever controller it finds: the whole USB link is its own meanwhile.
Device* Win32Operator::OpenUsb() {
    if (stop_.Requested() || !Lock(kUsbLinkIdentity, "the PLC on USB")) {
        return &ClosedDevice();
    }
    return Hold(OpenMyDevPipe(""));
}

void Win32Operator::Close(Device* device) {
    if (device == &link_ || device == &device_) {
        device_.Close();
    }
}

}  // namespace fwburn

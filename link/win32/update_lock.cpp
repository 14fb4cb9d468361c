#include "link/win32/update_lock.hpp"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "link/win32/port_identity.hpp"

namespace fwburn {

namespace {

// Shared holders of one identity at once: each holds a slot of its own.
constexpr int kSlots = 16;
// A gate is held for a moment by a shared taker and for a whole update by an exclusive holder.
constexpr DWORD kGateWaitMs = 500;
constexpr DWORD kHolderSize = 512;

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// Every user may wait on, release and read the objects, whoever made them: an updater run by
// another user must see and take them too.
SECURITY_ATTRIBUTES* OpenToAll() {
    static SECURITY_DESCRIPTOR descriptor;
    static SECURITY_ATTRIBUTES attributes;
    static const bool made = [] {
        if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
            return false;
        }
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = &descriptor;
        attributes.bInheritHandle = FALSE;
        return true;
    }();
    return made ? &attributes : nullptr;
}

// What this process holds: a mutex is its thread's own and taken again at once by that thread,
// so another run of this process is refused here, as another process is.
std::mutex gHeldMutex;
std::map<std::string, int> gHeld;  // object name -> -1 exclusive, else shared holders

struct Taken {
    HANDLE handle = nullptr;
    bool busy = false;  // held by another, or not to be opened by this user
    DWORD error = 0;
};

// Opens (or with `make`, makes) the mutex `name` and waits up to `ms` for it. A mutex whose
// holder ended without releasing it (WAIT_ABANDONED) is ours now: the holder is gone.
Taken Acquire(const std::string& name, DWORD ms, bool make) {
    Taken t;
    const std::wstring wide = Wide(name);
    HANDLE h = make ? CreateMutexW(OpenToAll(), FALSE, wide.c_str())
                    : OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, wide.c_str());
    if (h == nullptr) {
        t.error = GetLastError();
        t.busy = t.error == ERROR_ACCESS_DENIED;
        return t;
    }
    const DWORD waited = WaitForSingleObject(h, ms);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        t.handle = h;
        return t;
    }
    t.error = waited == WAIT_TIMEOUT ? 0 : GetLastError();
    t.busy = waited == WAIT_TIMEOUT;
    CloseHandle(h);
    return t;
}

void Let(HANDLE& mutex) {
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        mutex = nullptr;
    }
}

std::string ThisProgram() {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, n < MAX_PATH ? n : 0);
    const size_t slash = name.find_last_of(L"\\/");
    name = slash == std::wstring::npos ? name : name.substr(slash + 1);
    char text[MAX_PATH * 3] = {};
    WideCharToMultiByte(CP_UTF8, 0, name.c_str(), -1, text, sizeof text - 1, nullptr, nullptr);
    return text;
}

// The holder's record beside the mutex: the global namespace where this user may make a section
// there (it takes a privilege), else the session's own.
HANDLE Publish(const std::string& name) {
    const std::string record = name + ".holder";
    const std::wstring names[] = {Wide(record),
                                  Wide("Local\\" + record.substr(record.find('\\') + 1))};
    for (const std::wstring& wide : names) {
        HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, OpenToAll(), PAGE_READWRITE, 0,
                                            kHolderSize, wide.c_str());
        if (section == nullptr) {
            continue;
        }
        if (char* view = static_cast<char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0))) {
            std::snprintf(view, kHolderSize, "%lu %s", GetCurrentProcessId(),
                          ThisProgram().c_str());
            UnmapViewOfFile(view);
            return section;
        }
        CloseHandle(section);
    }
    return nullptr;
}

bool ReadHolder(const std::string& name, DWORD& process, std::string& program) {
    const std::string record = name + ".holder";
    const std::wstring names[] = {Wide(record),
                                  Wide("Local\\" + record.substr(record.find('\\') + 1))};
    for (const std::wstring& wide : names) {
        HANDLE section = OpenFileMappingW(FILE_MAP_READ, FALSE, wide.c_str());
        if (section == nullptr) {
            continue;
        }
        const char* view = static_cast<const char*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0));
        bool read = false;
        if (view != nullptr) {
            char text[kHolderSize + 1] = {};
            std::memcpy(text, view, kHolderSize);
            unsigned long pid = 0;
            int used = 0;
            if (std::sscanf(text, "%lu %n", &pid, &used) == 1 && pid != 0) {
                process = pid;
                program = text + used;
                read = true;
            }
            UnmapViewOfFile(view);
        }
        CloseHandle(section);
        if (read) {
            return true;
        }
    }
    return false;
}

std::string Slot(const std::string& name, int slot) {
    return name + "." + std::to_string(slot);
}

}  // namespace

UpdateLock::Status UpdateLock::Busy(const std::string& identity, const std::string& name) {
    busyIdentity_ = identity;
    ReadHolder(name, holderProcess_, holderProgram_);
    return Status::kBusy;
}

UpdateLock::Status UpdateLock::TakeOne(const std::string& identity, Mode mode) {
    const std::string name = LockObjectName(identity);
    {
        std::lock_guard<std::mutex> guard(gHeldMutex);
        const auto at = gHeld.find(name);
        if (at != gHeld.end() && (mode == Mode::kExclusive || at->second < 0)) {
            busyIdentity_ = identity;
            holderProcess_ = GetCurrentProcessId();
            holderProgram_ = ThisProgram();
            return Status::kBusy;
        }
    }
    Taken gate = Acquire(name, kGateWaitMs, true);
    if (gate.handle == nullptr) {
        if (gate.busy) {
            return Busy(identity, name);
        }
        why_ = "the lock " + name + " cannot be made (error " + std::to_string(gate.error) + ")";
        return Status::kFailed;
    }
    Held held{name, nullptr, nullptr, mode == Mode::kShared};
    if (mode == Mode::kExclusive) {
        // Every shared holder keeps its slot: one taken means the identity is shared now.
        for (int slot = 0; slot < kSlots; ++slot) {
            Taken s = Acquire(Slot(name, slot), 0, false);
            if (s.busy) {
                Let(gate.handle);
                return Busy(identity, Slot(name, slot));
            }
            Let(s.handle);
        }
        held.mutex = gate.handle;
    } else {
        for (int slot = 0; slot < kSlots && held.mutex == nullptr; ++slot) {
            Taken s = Acquire(Slot(name, slot), 0, true);
            if (s.handle != nullptr) {
                held.mutex = s.handle;
                held.name = Slot(name, slot);
            }
        }
        Let(gate.handle);
        if (held.mutex == nullptr) {
            why_ = std::to_string(kSlots) + " updates already share " + identity;
            return Status::kFailed;
        }
    }
    held.holder = Publish(held.name);
    {
        std::lock_guard<std::mutex> guard(gHeldMutex);
        int& count = gHeld[name];
        count = held.shared ? count + 1 : -1;
    }
    held.name = name;
    held_.push_back(held);
    return Status::kHeld;
}

UpdateLock::Status UpdateLock::Take(const std::vector<std::string>& identities, Mode mode) {
    Release();
    busyIdentity_.clear();
    holderProcess_ = 0;
    holderProgram_.clear();
    why_.clear();
    for (const std::string& identity : identities) {
        const Status status = TakeOne(identity, mode);
        if (status != Status::kHeld) {
            Release();
            return status;
        }
    }
    return Status::kHeld;
}

void UpdateLock::Release() {
    for (Held& held : held_) {
        {
            std::lock_guard<std::mutex> guard(gHeldMutex);
            const auto at = gHeld.find(held.name);
            if (at != gHeld.end() && (at->second < 0 || --at->second == 0)) {
                gHeld.erase(at);
            }
        }
        if (held.holder != nullptr) {
            CloseHandle(held.holder);
        }
        Let(held.mutex);
    }
    held_.clear();
}

std::string UpdateLock::Refusal(const std::string& what) const {
    if (busyIdentity_.empty()) {
        return "cannot lock the port: " + why_;
    }
    std::string holder =
        holderProcess_ != 0 ? "process " + std::to_string(holderProcess_) : "process unknown";
    if (!holderProgram_.empty()) {
        holder += ", " + holderProgram_;
    }
    return what + ": in use by another fwburn program (" + holder + "; lock " +
           LockObjectName(busyIdentity_) + ")";
}

}  // namespace fwburn

// --extract-image's file on Windows: a temporary file of its own beside the target (made anew,
// never one that was there), written, flushed to disk and then put in the target's place in one
// step (ReplaceFileW over an existing file, which keeps its attributes and security, MoveFileExW
// where there was none): a reader sees the old file or the whole image. Only a regular file is
// replaced: never a device ("NUL", "COM1", "\\.\..."), a directory, a link or junction, or a
// read-only file. A console event that ends the program removes the temporary file first.
#include <windows.h>

#include <cstdio>
#include <string>

#include "ui/console/cli/platform.hpp"
#include "ui/console/win32/console_modes.hpp"
#include "ui/console/win32/device_names.hpp"
#include "ui/console/win32/ending_events.hpp"
#include "ui/console/win32/text.hpp"

namespace fwburn::console {

namespace {

// The temporary file as the console's handler sees it; set and cleared under the lock, which
// the rename holds too, so that the handler never removes a file already in the target's place.
CRITICAL_SECTION gTemporaryLock;
std::wstring gTemporary;

BOOL WINAPI RemoveTemporaryAndEnd(DWORD event) {
    EnterCriticalSection(&gTemporaryLock);
    if (!gTemporary.empty()) {
        DeleteFileW(gTemporary.c_str());  // opened with FILE_SHARE_DELETE: gone at its close
    }
    RestoreConsole();
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(EndingForControlEvent(event).status));
    return TRUE;
}

class EndingScope {
  public:
    EndingScope() {
        InitializeCriticalSection(&gTemporaryLock);
        SetConsoleCtrlHandler(RemoveTemporaryAndEnd, TRUE);
    }
    ~EndingScope() { SetConsoleCtrlHandler(RemoveTemporaryAndEnd, FALSE); }
    EndingScope(const EndingScope&) = delete;
    EndingScope& operator=(const EndingScope&) = delete;
};

class Held {
  public:
    Held() { EnterCriticalSection(&gTemporaryLock); }
    ~Held() { LeaveCriticalSection(&gTemporaryLock); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
};

std::wstring FullPath(const std::wstring& path) {
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) {
        return L"";
    }
    std::wstring full(n, L'\0');
    const DWORD m = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    full.resize(m < n ? m : 0);
    return full;
}

// The path Windows resolved an open handle to; empty when it cannot tell.
std::wstring FinalPath(HANDLE h) {
    const DWORD n = GetFinalPathNameByHandleW(h, nullptr, 0, FILE_NAME_NORMALIZED);
    if (n == 0) {
        return L"";
    }
    std::wstring path(n, L'\0');
    const DWORD m = GetFinalPathNameByHandleW(h, path.data(), n, FILE_NAME_NORMALIZED);
    path.resize(m < n ? m : 0);
    return path;
}

// Whether the file opened as `h` is another file under the name `full`: Wine shows a symbolic
// link of the system beneath as the file it points to, with no reparse point, and removing the
// old file once replaced would remove that file. Its resolved path is then not its folder's
// resolved path and its own name. False where either cannot be told.
bool ReachedThroughLink(HANDLE h, const std::wstring& full) {
    const size_t cut = full.find_last_of(L"\\/");
    const bool root = cut == 0 || full[cut - 1] == L':';
    const HANDLE dir =
        CreateFileW(full.substr(0, root ? cut + 1 : cut).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (dir == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::wstring expected = FinalPath(dir);
    CloseHandle(dir);
    const std::wstring resolved = FinalPath(h);
    if (expected.empty() || resolved.empty()) {
        return false;
    }
    // The name as the disk has it: a short (8.3) name given is the same file.
    std::wstring name = full.substr(cut + 1);
    const DWORD n = GetLongPathNameW(full.c_str(), nullptr, 0);
    std::wstring longPath(n, L'\0');
    if (n > 0 && GetLongPathNameW(full.c_str(), longPath.data(), n) == n - 1) {
        longPath.resize(n - 1);
        name = longPath.substr(longPath.find_last_of(L"\\/") + 1);
    }
    if (expected.back() != L'\\') {
        expected += L'\\';
    }
    expected += name;
    return CompareStringOrdinal(expected.c_str(), -1, resolved.c_str(), -1, TRUE) != CSTR_EQUAL;
}

// Why the file at `full` may not be replaced; empty when it may (or when there is none).
std::string Refusal(const std::wstring& full, bool& exists) {
    exists = false;
    const HANDLE h = CreateFileW(
        full.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? "" : ErrorText(error);
    }
    exists = true;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool disk = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info);
    const bool elsewhere = disk && ReachedThroughLink(h, full);
    CloseHandle(h);
    if (disk && ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || elsewhere)) {
        // Following it would let whoever can plant a link choose the file that gets replaced.
        return "a symbolic link or junction; name the file it points to";
    }
    if (!disk || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return "not a regular file; only a regular file is replaced";
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return "a read-only file; it is not replaced behind its back";
    }
    const HANDLE w = CreateFileW(full.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (w == INVALID_HANDLE_VALUE) {
        return ErrorText(GetLastError());
    }
    CloseHandle(w);
    return "";
}

// A file of its own beside the target, made exclusively; registered for the handler.
HANDLE CreateTemporary(const std::wstring& dir) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        wchar_t name[32];
        const unsigned long mix =
            (GetTickCount() * 2654435761ul) ^ (GetCurrentProcessId() << 20) ^ attempt;
        std::swprintf(name, 32, L".fwburn-%08lx", mix & 0xFFFFFFFFul);
        const std::wstring path = dir + name;
        Held held;
        const HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                                     nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            gTemporary = path;
            return h;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            return h;
        }
    }
    return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE h, const uint8_t* data, size_t length) {
    constexpr size_t kChunk = 1 << 20;
    while (length > 0) {
        DWORD done = 0;
        const DWORD want = static_cast<DWORD>(length < kChunk ? length : kChunk);
        if (!WriteFile(h, data, want, &done, nullptr)) {
            return false;
        }
        if (done == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        data += done;
        length -= done;
    }
    return true;
}

}  // namespace

bool ReplaceFileSafely(const std::string& file, const uint8_t* data, size_t length,
                       std::string& error) {
    if (file.empty() || file.back() == '/' || file.back() == '\\') {
        error = "names a directory";
        return false;
    }
    const std::wstring full = FullPath(Wide(file));
    if (NamesADevice(file) || full.empty() || NamesADevice(Utf8(full))) {
        error = "a device, not a file; only a regular file is replaced";
        return false;
    }
    bool exists = false;
    error = Refusal(full, exists);
    if (!error.empty()) {
        return false;
    }
    const std::wstring dir = full.substr(0, full.find_last_of(L"\\/") + 1);

    EndingScope ending;
    const HANDLE h = CreateTemporary(dir);
    if (h == INVALID_HANDLE_VALUE) {
        error = ErrorText(GetLastError());
        return false;
    }
    bool ok = WriteAll(h, data, length) && FlushFileBuffers(h);
    DWORD why = GetLastError();
    CloseHandle(h);
    std::wstring temporary;
    std::string keptAs;  // where the old file stayed when it could not be put back
    {
        Held held;
        temporary = gTemporary;
        if (ok && exists) {
            // ReplaceFileW keeps the old file's attributes, security and streams, as Linux keeps
            // its mode and owner; other hard links to it keep the old contents. Without a backup
            // name some of its failures leave the old file removed, or renamed to a name of its
            // own choosing: with one, the old file is put back wherever it failed.
            const std::wstring backup = temporary + L".old";
            ok = ReplaceFileW(full.c_str(), temporary.c_str(), backup.c_str(),
                              REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0;
            why = GetLastError();
            if (ok) {
                DeleteFileW(backup.c_str());  // the old contents
            } else if (why == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 &&
                       !MoveFileExW(backup.c_str(), full.c_str(), MOVEFILE_WRITE_THROUGH)) {
                keptAs = Utf8(backup);
            }
        } else if (ok) {
            ok = MoveFileExW(temporary.c_str(), full.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
            why = GetLastError();
        }
        if (!ok) {
            DeleteFileW(temporary.c_str());
        }
        gTemporary.clear();
    }
    if (!ok) {
        error = ErrorText(why) + (keptAs.empty() ? "" : "; the old file is kept as " + keptAs);
    }
    return ok;
}

std::string NameWrittenAs(const std::string& file) {
    // Windows' own reading of the last part, in place of the one given: the folder stays as the
    // operator wrote it.
    const std::wstring full = FullPath(Wide(file));
    const std::string last = Utf8(full.substr(full.find_last_of(L"\\/") + 1));
    const size_t given = file.find_last_of("\\/:") + 1;  // 0 when there is no separator
    return last.empty() ? file : file.substr(0, given) + last;
}

}  // namespace fwburn::console

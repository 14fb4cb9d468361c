#include "ui/console/win32/same_handle.hpp"

#include <cstring>

namespace fwburn::console {

bool IsConsole(HANDLE h) {
    DWORD mode = 0;
    return GetConsoleMode(h, &mode) != 0;
}

// Two handles of one file on disk, by its file ID. Wine knows no volume for a standard handle
// that it made from a descriptor of the system beneath (its serial number is 0 there), nor gives
// GetFileInformationByHandle for it: the ID alone tells the file then.
bool SameFile(HANDLE a, HANDLE b) {
    FILE_ID_INFO ia{};
    FILE_ID_INFO ib{};
    return GetFileType(a) == FILE_TYPE_DISK && GetFileType(b) == FILE_TYPE_DISK &&
           GetFileInformationByHandleEx(a, FileIdInfo, &ia, sizeof ia) &&
           GetFileInformationByHandleEx(b, FileIdInfo, &ib, sizeof ib) &&
           std::memcmp(&ia.FileId, &ib.FileId, sizeof ia.FileId) == 0 &&
           (ia.VolumeSerialNumber == ib.VolumeSerialNumber || ia.VolumeSerialNumber == 0 ||
            ib.VolumeSerialNumber == 0);
}

// Two handles of one pipe (`2>&1 |`): Windows 10 and later tell it of two handles of one object;
// Wine gives each descriptor of the system beneath an object of its own, and a pipe's ID there
// is its inode, 0 where there is none.
bool SamePipe(HANDLE a, HANDLE b) {
    if (GetFileType(a) != FILE_TYPE_PIPE || GetFileType(b) != FILE_TYPE_PIPE) {
        return false;
    }
    using Compare = BOOL(WINAPI*)(HANDLE, HANDLE);
    const HMODULE kernelBase = GetModuleHandleW(L"kernelbase.dll");
    const auto compare = kernelBase == nullptr
                             ? nullptr
                             : reinterpret_cast<Compare>(reinterpret_cast<void*>(
                                   GetProcAddress(kernelBase, "CompareObjectHandles")));
    if (compare != nullptr && compare(a, b)) {
        return true;
    }
    FILE_ID_INFO ia{};
    FILE_ID_INFO ib{};
    const FILE_ID_INFO none{};
    return GetFileInformationByHandleEx(a, FileIdInfo, &ia, sizeof ia) &&
           GetFileInformationByHandleEx(b, FileIdInfo, &ib, sizeof ib) &&
           std::memcmp(&ia.FileId, &none.FileId, sizeof ia.FileId) != 0 &&
           std::memcmp(&ia.FileId, &ib.FileId, sizeof ia.FileId) == 0 &&
           ia.VolumeSerialNumber == ib.VolumeSerialNumber;
}

// Two handles of one console, of one file on disk or of one pipe.
bool SameDestination(HANDLE a, HANDLE b) {
    if (a == b || (IsConsole(a) && IsConsole(b)) || SameFile(a, b) || SamePipe(a, b)) {
        return true;
    }
    // A volume without file IDs (FAT) still has file indexes.
    BY_HANDLE_FILE_INFORMATION ia{};
    BY_HANDLE_FILE_INFORMATION ib{};
    return GetFileType(a) == FILE_TYPE_DISK && GetFileType(b) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(a, &ia) && GetFileInformationByHandle(b, &ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace fwburn::console

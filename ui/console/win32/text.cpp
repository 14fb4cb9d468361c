#include "ui/console/win32/text.hpp"

#include <cerrno>

#include "link/win32/code_page.hpp"

namespace fwburn::console {

std::wstring Wide(const std::string& utf8) {
    return WideFrom(utf8, CP_UTF8);
}

std::string Utf8(const std::wstring& wide) {
    return NarrowTo(wide, CP_UTF8);
}

std::string Utf8FromAnsi(const std::string& ansi) {
    return Recode(ansi, CP_ACP, CP_UTF8);
}

// The bytes of `text` that end on a whole UTF-8 sequence; the rest waits for the next piece.
size_t WholeUtf8(const std::string& text) {
    const size_t n = text.size();
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto c = static_cast<unsigned char>(text[n - back]);
        if ((c & 0xC0) == 0x80) {
            continue;  // a continuation byte: look further back for its lead
        }
        const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? n - back : n;
    }
    return n;
}

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
        case ERROR_PIPE_NOT_CONNECTED:
            return EPIPE;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_DIRECTORY:
            return EINVAL;
        default:
            return EIO;
    }
}

std::string ErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring said = n > 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
    LocalFree(text);
    while (!said.empty() && (said.back() == L'\n' || said.back() == L'\r' || said.back() == L' ' ||
                             said.back() == L'.')) {
        said.pop_back();
    }
    return said.empty() ? "error " + std::to_string(error) : Utf8(said);
}

}  // namespace fwburn::console

// Text between the program (UTF-8) and Windows (UTF-16, error numbers).
#pragma once

#include <windows.h>

#include <string>

namespace fwburn::console {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
// Text that Windows gives in its ANSI code page (the device names link/win32 reads for the
// window), in UTF-8.
std::string Utf8FromAnsi(const std::string& ansi);

// The length of the start of `text` that ends on a whole UTF-8 sequence: a console takes text a
// piece at a time, and a character cut between two pieces waits for the rest.
size_t WholeUtf8(const std::string& text);

// The errno value the program's words and JSON use for a Windows error: ENOENT, EACCES, EBUSY,
// ENOSPC, EPIPE, EINVAL, else EIO.
int ErrnoOf(DWORD error);

// What Windows says of an error, on one line, without the full stop and the line end.
std::string ErrorText(DWORD error);

}  // namespace fwburn::console

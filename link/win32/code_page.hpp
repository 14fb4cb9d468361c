// Text between Windows' code pages and UTF-16: the window speaks its ANSI code page, the console
// UTF-8, and every updater names itself to the others in UTF-8.
#pragma once

#include <windows.h>

#include <string>

namespace fwburn {

std::wstring WideFrom(const std::string& text, UINT codePage);
std::string NarrowTo(const std::wstring& wide, UINT codePage);
// `text` from code page `from` to code page `to`.
std::string Recode(const std::string& text, UINT from, UINT to);

}  // namespace fwburn

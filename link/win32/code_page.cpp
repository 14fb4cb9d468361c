#include "link/win32/code_page.hpp"

namespace fwburn {

std::wstring WideFrom(const std::string& text, UINT codePage) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), n);
    return wide;
}

std::string NarrowTo(const std::wstring& wide, UINT codePage) {
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
    return text;
}

std::string Recode(const std::string& text, UINT from, UINT to) {
    return NarrowTo(WideFrom(text, from), to);
}

}  // namespace fwburn

#include "ui/console/show/shown_text.hpp"

#include "ui/console/show/wording.hpp"

namespace fwburn::console {

namespace {

void AppendEscaped(std::string& out, uint8_t b) {
    if (b == '\r') {
        out += "\\r";
    } else if (b == '\n') {
        out += "\\n";
    } else {
        out += "\\x" + Hex(b, 2).substr(2);  // the one hex formatter, its "0x" left out
    }
}

bool Continuation(uint8_t b) {
    return (b & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at `at`, and its code point; 0 when the bytes there are
// no such sequence (a stray continuation byte, an overlong form, a surrogate, past U+10FFFF, or
// cut short).
size_t Sequence(const std::string& text, size_t at, uint32_t& codePoint) {
    const auto byte = [&text](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(at);
    size_t length = 0;
    uint8_t low = 0x80;  // the second byte's range, narrowed where a lead allows less
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if (!Continuation(byte(at + i))) {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
    }
    return length;
}

// Code points a terminal acts on, or that move or break the text around them out of sight.
bool Hidden(uint32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// The columns a terminal gives the character at `at`, whose bytes it puts in `length`: two for the
// wide characters of East Asian scripts and the emoji, one for the others (a combining mark too:
// a column too many only pads a line short), and one for a byte that is no valid UTF-8.
size_t Column(const std::string& text, size_t at, size_t& length) {
    uint32_t c = static_cast<uint8_t>(text[at]);
    length = c < 0x80 ? 1 : Sequence(text, at, c);
    if (length == 0) {
        length = 1;
        return 1;
    }
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE10 && c <= 0xFE6F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F000 && c <= 0x1FAFF) ||
                      (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

}  // namespace

std::string Shown(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const auto b = static_cast<uint8_t>(text[at]);
        if (b < 0x80) {
            if (b < 0x20 || b == 0x7F) {
                AppendEscaped(out, b);
            } else {
                out += static_cast<char>(b);
            }
            ++at;
            continue;
        }
        uint32_t codePoint = 0;
        const size_t length = Sequence(text, at, codePoint);
        if (length == 0) {
            AppendEscaped(out, b);
            ++at;
            continue;
        }
        for (size_t i = 0; i < length; ++i) {
            if (Hidden(codePoint)) {
                AppendEscaped(out, static_cast<uint8_t>(text[at + i]));
            } else {
                out += text[at + i];
            }
        }
        at += length;
    }
    return out;
}

std::string Head(const std::string& text, size_t length) {
    if (text.size() <= length) {
        return text;
    }
    size_t end = length;
    while (end > 0 && Continuation(static_cast<uint8_t>(text[end]))) {
        --end;
    }
    return text.substr(0, end > 0 ? end : length);  // narrower than one character: its bytes
}

size_t Width(const std::string& text) {
    size_t width = 0;
    for (size_t at = 0, length; at < text.size(); at += length) {
        width += Column(text, at, length);
    }
    return width;
}

std::string HeadWithin(const std::string& text, size_t columns) {
    size_t at = 0;
    for (size_t length, width = 0; at < text.size(); at += length) {
        width += Column(text, at, length);
        if (width > columns) {
            break;
        }
    }
    return text.substr(0, at);
}

std::string TailWithin(const std::string& text, size_t columns) {
    size_t at = 0;
    for (size_t length, width = Width(text); width > columns; at += length) {
        width -= Column(text, at, length);
    }
    return text.substr(at);
}

std::string Printable(const uint8_t* bytes, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = bytes[i];
        if (b == '\\' || b == '"') {
            text += '\\';
            text += static_cast<char>(b);
        } else if (b >= 0x20 && b < 0x7F) {
            text += static_cast<char>(b);
        } else {
            AppendEscaped(text, b);
        }
    }
    return text;
}

}  // namespace fwburn::console

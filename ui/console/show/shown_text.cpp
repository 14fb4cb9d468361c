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

// The code points a terminal gives two columns: the wide and full-width ones of East Asian
// scripts, and the emoji, the symbols' block and those among the older symbols (a watch, a
// lightning, a star) shown as pictures. A range may hold a narrow one too: a column too many only
// pads a line short, one too few wraps it.
constexpr struct {
    uint32_t first;
    uint32_t last;
} kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x18DFF}, {0x1AFF0, 0x1B2FF},
    {0x1F000, 0x1FAFF}, {0x20000, 0x3FFFD},
};

// The columns a terminal gives the character at `at`, whose bytes it puts in `length`: none for
// the combining diacritical marks, which go on the character before, and the zero-width spaces
// and joiners; two for the wide ones above; one for the others (a mark of another script too) and
// for a byte that is no valid UTF-8. Counted one, a mark shifted a table's later columns left.
size_t Column(const std::string& text, size_t at, size_t& length) {
    uint32_t c = static_cast<uint8_t>(text[at]);
    length = c < 0x80 ? 1 : Sequence(text, at, c);
    if (length == 0) {
        length = 1;
        return 1;
    }
    if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
        (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
        (c >= 0xFE20 && c <= 0xFE2F) || (c >= 0x200B && c <= 0x200D) ||
        (c >= 0x2060 && c <= 0x2064) || c == 0xFEFF) {
        return 0;
    }
    for (const auto& range : kWide) {
        if (c >= range.first && c <= range.last) {
            return 2;
        }
    }
    return 1;
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

std::string QuietJson(const std::string& json) {
    std::string out;
    out.reserve(json.size());
    for (size_t at = 0; at < json.size();) {
        uint32_t codePoint = 0;
        const size_t length =
            static_cast<uint8_t>(json[at]) < 0x80 ? 0 : Sequence(json, at, codePoint);
        if (length > 0 && Hidden(codePoint)) {
            out += "\\u" + Hex(codePoint, 4).substr(2);
            at += length;
        } else {
            out += json[at++];
        }
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
    size_t length = 0;
    for (size_t width = Width(text); width > columns; at += length) {
        width -= Column(text, at, length);
    }
    // Nor the marks of a character left out.
    while (at > 0 && at < text.size() && Column(text, at, length) == 0) {
        at += length;
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

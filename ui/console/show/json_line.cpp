#include "ui/console/show/json_line.hpp"

#include <cmath>
#include <cstdio>

namespace fwburn::console {

namespace {

// Length of the valid UTF-8 sequence that starts at `i`, or 0 when there is none (overlong forms,
// surrogates and code points past U+10FFFF included).
size_t Utf8Length(const std::string& s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    size_t length;
    uint32_t min;
    uint32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        min = 0x80;
        cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        min = 0x800;
        cp = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        min = 0x10000;
        cp = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > s.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const size_t length = Utf8Length(text, i);
            if (length == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(text, i, length);
                i += length;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    out += '"';
    return out;
}

void JsonLine::Key(const char* key) {
    if (body_.size() > 1) {
        body_ += ',';
    }
    body_ += JsonString(key);
    body_ += ':';
}

JsonLine& JsonLine::Add(const char* key, const std::string& value) {
    Key(key);
    body_ += JsonString(value);
    return *this;
}

JsonLine& JsonLine::Add(const char* key, const char* value) {
    if (value == nullptr) {
        return AddNull(key);
    }
    return Add(key, std::string(value));
}

JsonLine& JsonLine::Add(const char* key, int64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::AddFixed(const char* key, double value) {
    if (!(value >= 0) || !std::isfinite(value)) {
        return AddNull(key);
    }
    Key(key);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    body_ += text;
    return *this;
}

JsonLine& JsonLine::Add(const char* key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::AddNull(const char* key) {
    Key(key);
    body_ += "null";
    return *this;
}

JsonLine& JsonLine::AddRaw(const char* key, const std::string& json) {
    Key(key);
    body_ += json;
    return *this;
}

}  // namespace fwburn::console

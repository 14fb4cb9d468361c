#include "sim/ascii.hpp"

#include <cstdio>

namespace fwburn::sim {

namespace {

// -1 for anything but an upper-case hex digit; lower-case digits are -2 so they can be named.
int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return -2;
    }
    return -1;
}

}  // namespace

uint8_t Lrc(const std::vector<uint8_t>& message) {
    unsigned sum = 0;
    for (uint8_t b : message) {
        sum += b;
    }
    return static_cast<uint8_t>(0x100 - (sum & 0xFF));
}

std::vector<uint8_t> EncodeFrame(const std::vector<uint8_t>& message, FrameStyle style) {
    const char* digits = style.lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
    std::vector<uint8_t> out{':'};
    auto put = [&](uint8_t b) {
        out.push_back(static_cast<uint8_t>(digits[b >> 4]));
        out.push_back(static_cast<uint8_t>(digits[b & 0x0F]));
    };
    for (uint8_t b : message) {
        put(b);
    }
    put(static_cast<uint8_t>(Lrc(message) + style.lrcOffset));
    out.push_back('\r');
    out.push_back('\n');
    return out;
}

const char* FrameErrorText(FrameError error) {
    switch (error) {
        case FrameError::kNone:
            return "no error";
        case FrameError::kNoCrLf:
            return "not ended by CR LF";
        case FrameError::kTooShort:
            return "too short";
        case FrameError::kOddLength:
            return "odd count of hex digits";
        case FrameError::kNotHex:
            return "non-hex character";
        case FrameError::kLowerCase:
            return "lower-case hex digits";
        case FrameError::kBadLrc:
            return "wrong LRC";
    }
    return "?";
}

DecodedFrame DecodeFrame(std::string_view text) {
    DecodedFrame out;
    if (text.size() < 3 || text[text.size() - 2] != '\r' || text.back() != '\n') {
        out.error = FrameError::kNoCrLf;
        return out;
    }
    const std::string_view hex = text.substr(1, text.size() - 3);
    if (hex.size() < 4) {
        out.error = FrameError::kTooShort;
        return out;
    }
    if (hex.size() % 2 != 0) {
        out.error = FrameError::kOddLength;
        return out;
    }
    bool lower = false;
    for (char c : hex) {
        const int v = HexValue(c);
        if (v == -1) {
            out.error = FrameError::kNotHex;
            return out;
        }
        lower = lower || v == -2;
    }
    if (lower) {
        out.error = FrameError::kLowerCase;
        return out;
    }
    unsigned sum = 0;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const auto b = static_cast<uint8_t>(HexValue(hex[i]) * 16 + HexValue(hex[i + 1]));
        sum += b;
        out.message.push_back(b);
    }
    out.message.pop_back();
    if ((sum & 0xFF) != 0) {
        out.error = FrameError::kBadLrc;
    }
    return out;
}

std::string Printable(std::string_view text) {
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20 || u >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace fwburn::sim

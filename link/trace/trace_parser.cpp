#include "link/trace/trace_parser.hpp"

#include <cstring>
#include <limits>

#include "link/hex.hpp"

namespace fwburn {

namespace {

// Far beyond the longest line the writer makes (a block of 261 bytes, a port path in a note).
constexpr size_t kMaxLineLength = 1 << 16;
constexpr uint8_t kUnknownSetting = 0xFF;  // a parity or stop-bit value written as "?"

// Hex pairs in either case (a trace may have been edited by hand), or "-" for none.
bool FromHex(const std::string& hex, std::vector<uint8_t>& out) {
    out.clear();
    if (hex == "-") {
        return true;
    }
    if (hex.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexNibble(static_cast<uint8_t>(hex[i]), HexLetters::kEitherCase);
        const int lo = HexNibble(static_cast<uint8_t>(hex[i + 1]), HexLetters::kEitherCase);
        if (hi < 0 || lo < 0) {
            return false;
        }
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

// Decimal digits only, no sign, at most `max`: anything else is garbage, not a number.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty()) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (max - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    return true;
}

template <typename T>
bool ParseField(const std::string& text, T& out) {
    uint64_t value = 0;
    if (!ParseNumber(text, std::numeric_limits<T>::max(), value)) {
        return false;
    }
    out = static_cast<T>(value);
    return true;
}

// `name=<number>`, the number checked as above.
template <typename T>
bool ParseNamed(const std::string& token, const char* name, T& out) {
    const size_t n = std::strlen(name);
    return token.size() > n + 1 && token.compare(0, n, name) == 0 && token[n] == '=' &&
           ParseField(token.substr(n + 1), out);
}

// The line's words, split at runs of spaces; `rest` gets what follows the second word and one
// space (a note's text, spaces kept).
std::vector<std::string> Words(const std::string& line, std::string& rest) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') {
            ++i;
        }
        if (i == line.size()) {
            break;
        }
        const size_t end = line.find(' ', i);
        words.push_back(line.substr(i, end == std::string::npos ? std::string::npos : end - i));
        i = end == std::string::npos ? line.size() : end;
        if (words.size() == 2) {
            rest = i < line.size() ? line.substr(i + 1) : "";
        }
    }
    return words;
}

bool ParseExchange(const std::vector<std::string>& w, TraceEvent& e, std::string& why) {
    if (w.size() < 4 || !FromHex(w[3], e.bytes)) {
        why = "bad bytes";
        return false;
    }
    e.request = w[2];
    e.count = static_cast<uint32_t>(e.bytes.size());
    const bool tx = e.kind == "tx";
    bool counted = false;
    for (size_t i = 4; i < w.size(); ++i) {
        if (tx && w[i] == "retry" && !e.retry) {
            e.retry = true;
        } else if (!counted && ParseNamed(w[i], tx ? "written" : "want", e.count)) {
            counted = true;
        } else {
            why = "bad field " + w[i];
            return false;
        }
    }
    // A write sends no more than it was given; a read gets no more than it asked for.
    if (tx ? e.count > e.bytes.size() : e.count < e.bytes.size()) {
        why = tx ? "written exceeds the bytes" : "more bytes than wanted";
        return false;
    }
    return true;
}

bool ParseSetLine(const std::vector<std::string>& w, TraceEvent& e) {
    if (w.size() < 8 || w.size() > 9 || (w.size() == 9 && w[8] != "refused")) {
        return false;
    }
    LineSettings& s = e.line;
    if (!ParseField(w[2], s.baudRate) || !ParseField(w[3], s.byteSize) ||
        !ParseNamed(w[6], "dtr", s.dtrControl) || !ParseNamed(w[7], "rts", s.rtsControl)) {
        return false;
    }
    const std::string& parity = w[4];
    const std::string& stop = w[5];
    s.parity = parity == "N" ? 0 : parity == "O" ? 1 : parity == "E" ? 2 : kUnknownSetting;
    s.stopBits = stop == "1" ? 0 : stop == "1.5" ? 1 : stop == "2" ? 2 : kUnknownSetting;
    if ((s.parity == kUnknownSetting && parity != "?") ||
        (s.stopBits == kUnknownSetting && stop != "?")) {
        return false;
    }
    e.failed = w.size() == 9;
    return true;
}

bool ParseTimeouts(const std::vector<std::string>& w, TraceEvent& e) {
    Timeouts& t = e.timeouts;
    return w.size() == 7 && ParseField(w[2], t.readInterval) &&
           ParseField(w[3], t.readTotalMultiplier) && ParseField(w[4], t.readTotalConstant) &&
           ParseField(w[5], t.writeTotalMultiplier) && ParseField(w[6], t.writeTotalConstant);
}

bool ParseMs(const std::string& text, int64_t& ms) {
    const bool negative = !text.empty() && text[0] == '-';
    uint64_t value = 0;
    const uint64_t max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (!ParseNumber(negative ? text.substr(1) : text, negative ? max + 1 : max, value)) {
        return false;
    }
    ms = negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
    return true;
}

}  // namespace

bool ParseTraceLine(const std::string& line, TraceEvent& e, std::string& why) {
    e = TraceEvent();
    for (char c : line) {
        if (IsTraceControl(c)) {
            why = "control character";
            return false;
        }
    }
    std::string rest;
    const std::vector<std::string> w = Words(line, rest);
    if (w.empty() || w[0][0] == '#') {
        return true;
    }
    if (w.size() < 2 || !ParseMs(w[0], e.ms)) {
        why = "no time and event";
        return false;
    }
    e.kind = w[1];
    bool ok = true;
    if (e.kind == "tx" || e.kind == "rx") {
        return ParseExchange(w, e, why);
    } else if (e.kind == "set-line") {
        ok = ParseSetLine(w, e);
        why = "bad line";
    } else if (e.kind == "timeouts") {
        ok = ParseTimeouts(w, e);
        why = "bad time-outs";
    } else if (e.kind == "get-line") {
        e.failed = w.size() == 3 && w[2] == "none";
        ok = w.size() == 2 || e.failed;
        why = "bad get-line";
    } else if (e.kind == "discard") {
        ok = w.size() == 2 ||
             (w.size() == 3 && ParseNamed(w[2], "dropped", e.count) && e.count != 0);
        why = "bad discard";
    } else if (e.kind == "note") {
        e.text = rest;
    } else {
        why = "unknown event " + e.kind;
        return false;
    }
    return ok;
}

bool ParseTrace(std::FILE* in, std::vector<TraceEvent>& events, std::string* error) {
    int lineNumber = 0;
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = "line " + std::to_string(lineNumber) + ": " + why;
        }
        return false;
    };
    std::string line;
    for (;;) {
        line.clear();
        int c = 0;
        while ((c = std::getc(in)) != EOF && c != '\n') {
            if (line.size() == kMaxLineLength) {
                ++lineNumber;
                return fail("line too long");
            }
            line += static_cast<char>(c);
        }
        if (c == EOF && line.empty()) {
            return std::ferror(in) == 0 || fail("read error");
        }
        ++lineNumber;
        if (c == EOF) {
            return fail("cut short: no end of line");  // what a write that failed leaves
        }
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        TraceEvent e;
        std::string why;
        if (!ParseTraceLine(line, e, why)) {
            return fail(why);
        }
        if (!e.kind.empty()) {
            events.push_back(std::move(e));
        }
    }
}

}  // namespace fwburn

#include "protocol/trace.hpp"

#include <cstring>
#include <sstream>

#include "protocol/requests.hpp"

namespace fwburn {

namespace {

struct Word {
    const char* text;
    const char* name;
};

const Word kBootWords[] = {
    {"ID", "ID"}, {"VERSION", "VERSION"}, {"ERASE", "ERASE"}, {"UPDATE", "UPDATE"}};

std::string Slug(const char* name) {
    std::string s = name;
    for (char& c : s) {
        if (c == ' ') {
            c = '-';
        }
    }
    std::string out;
    for (char c : s) {
        if (c != '(' && c != ')') {
            out += c;
        }
    }
    return out;
}

const char* ParityText(uint8_t parity) {
    switch (parity) {
        case 0:
            return "N";
        case 1:
            return "O";
        case 2:
            return "E";
        default:
            return "?";
    }
}

const char* StopText(uint8_t stop) {
    switch (stop) {
        case 0:
            return "1";
        case 1:
            return "1.5";
        case 2:
            return "2";
        default:
            return "?";
    }
}

std::string LineText(const LineSettings& s) {
    std::ostringstream o;
    o << s.baudRate << ' ' << int{s.byteSize} << ' ' << ParityText(s.parity) << ' '
      << StopText(s.stopBits) << " dtr=" << int{s.dtrControl} << " rts=" << int{s.rtsControl};
    return o.str();
}

int HexNibble(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool FromHex(const std::string& hex, std::vector<uint8_t>& out) {
    if (hex == "-") {
        out.clear();
        return true;
    }
    if (hex.size() % 2 != 0)
        return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexNibble(hex[i]);
        const int lo = HexNibble(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

}  // namespace

std::string ToHex(const uint8_t* data, size_t length) {
    if (length == 0) {
        return "-";
    }
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(2 * length);
    for (size_t i = 0; i < length; ++i) {
        s += kDigits[data[i] >> 4];
        s += kDigits[data[i] & 15];
    }
    return s;
}

std::string RequestName(const uint8_t* data, uint32_t length) {
    for (size_t i = 0; i < kAllAppRequestCount; ++i) {
        const AppRequest& r = *kAllAppRequests[i];
        if (r.length == length && std::memcmp(r.text, data, length) == 0) {
            return Slug(r.name);
        }
    }
    for (const Word& w : kBootWords) {
        if (std::strlen(w.text) == length && std::memcmp(w.text, data, length) == 0) {
            return w.name;
        }
    }
    if (length == 1 && data[0] == 0x04) {
        return "EOT";
    }
    if ((length == 261 || length == 133) && data[0] == 0x02) {
        return "block-" + std::to_string(data[1]);
    }
    return "unknown";
}

TraceWriter::TraceWriter(std::FILE* out, std::function<int64_t()> clockMs)
    : out_(out), clockMs_(std::move(clockMs)), start_(clockMs_()) {
    std::fputs("# fwburn link trace 1\n", out_);
}

void TraceWriter::Line(const std::string& text) {
    std::fprintf(out_, "%lld %s\n", static_cast<long long>(clockMs_() - start_), text.c_str());
    std::fflush(out_);
}

uint32_t TracingDevice::Write(const uint8_t* data, uint32_t length) {
    const std::vector<uint8_t> bytes(data, data + length);
    const bool retry = bytes == lastWrite_;
    lastWrite_ = bytes;
    lastRequest_ = RequestName(data, length);
    const uint32_t written = inner_.Write(data, length);
    std::string line = "tx " + lastRequest_ + " " + ToHex(data, length);
    if (written != length) {
        line += " written=" + std::to_string(written);
    }
    if (retry && lastRequest_ != "wake") {  // the wake frames go out five times by design
        line += " retry";
    }
    trace_.Line(line);
    return written;
}

uint32_t TracingDevice::Read(uint8_t* buffer, uint32_t length) {
    const uint32_t got = inner_.Read(buffer, length);
    trace_.Line("rx " + lastRequest_ + " " + ToHex(buffer, got) +
                " want=" + std::to_string(length));
    return got;
}

bool TracingDevice::GetLineSettings(LineSettings& settings) {
    const bool ok = inner_.GetLineSettings(settings);
    trace_.Line(std::string("get-line") + (ok ? "" : " none"));
    return ok;
}

bool TracingDevice::SetLineSettings(const LineSettings& settings) {
    const bool ok = inner_.SetLineSettings(settings);
    trace_.Line("set-line " + LineText(settings) + (ok ? "" : " refused"));
    return ok;
}

bool TracingDevice::SetTimeouts(const Timeouts& t) {
    const bool ok = inner_.SetTimeouts(t);
    std::ostringstream o;
    o << "timeouts " << t.readInterval << ' ' << t.readTotalMultiplier << ' ' << t.readTotalConstant
      << ' ' << t.writeTotalMultiplier << ' ' << t.writeTotalConstant;
    trace_.Line(o.str());
    return ok;
}

void TracingDevice::DiscardInput() {
    inner_.DiscardInput();
    trace_.Line("discard");
}

bool ParseTrace(std::FILE* in, std::vector<TraceEvent>& events, std::string* error) {
    char buffer[4096];
    int lineNumber = 0;
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = "line " + std::to_string(lineNumber) + ": " + why;
        }
        return false;
    };
    while (std::fgets(buffer, sizeof buffer, in) != nullptr) {
        ++lineNumber;
        std::string text = buffer;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        if (text.empty() || text[0] == '#') {
            continue;
        }
        std::istringstream s(text);
        TraceEvent e;
        long long ms = 0;
        if (!(s >> ms >> e.kind))
            return fail("no time and event");
        e.ms = ms;
        if (e.kind == "tx" || e.kind == "rx") {
            std::string hex;
            if (!(s >> e.request >> hex) || !FromHex(hex, e.bytes))
                return fail("bad bytes");
            e.count = static_cast<uint32_t>(e.bytes.size());
            std::string field;
            while (s >> field) {
                if (field.rfind("written=", 0) == 0) {
                    e.count = static_cast<uint32_t>(std::stoul(field.substr(8)));
                } else if (field.rfind("want=", 0) == 0) {
                    e.count = static_cast<uint32_t>(std::stoul(field.substr(5)));
                }
            }
        } else if (e.kind == "set-line") {
            unsigned baud = 0, bits = 0;
            std::string parity, stop, dtr, rts;
            if (!(s >> baud >> bits >> parity >> stop >> dtr >> rts))
                return fail("bad line");
            e.line.baudRate = baud;
            e.line.byteSize = static_cast<uint8_t>(bits);
            e.line.parity = parity == "E" ? 2 : parity == "O" ? 1 : 0;
            e.line.stopBits = stop == "2" ? 2 : stop == "1.5" ? 1 : 0;
            e.line.dtrControl = dtr == "dtr=1" ? 1 : 0;
            e.line.rtsControl = rts == "rts=1" ? 1 : 0;
        } else if (e.kind == "timeouts") {
            Timeouts& t = e.timeouts;
            if (!(s >> t.readInterval >> t.readTotalMultiplier >> t.readTotalConstant >>
                  t.writeTotalMultiplier >> t.writeTotalConstant)) {
                return fail("bad time-outs");
            }
        } else if (e.kind != "get-line" && e.kind != "discard" && e.kind != "note") {
            return fail("unknown event " + e.kind);
        }
        events.push_back(std::move(e));
    }
    return true;
}

}  // namespace fwburn

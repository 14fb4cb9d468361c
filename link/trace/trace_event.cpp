#include "link/trace/trace_event.hpp"

#include <sstream>

#include "link/hex.hpp"

namespace fwburn {

namespace {

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

}  // namespace

std::string ToHex(const uint8_t* data, size_t length) {
    if (length == 0) {
        return "-";
    }
    std::string s;
    s.reserve(2 * length);
    for (size_t i = 0; i < length; ++i) {
        s += kHexDigits[data[i] >> 4];
        s += kHexDigits[data[i] & 15];
    }
    return s;
}

bool TraceEvent::operator==(const TraceEvent& o) const {
    return ms == o.ms && kind == o.kind && request == o.request && bytes == o.bytes &&
           count == o.count && retry == o.retry && failed == o.failed && line == o.line &&
           timeouts == o.timeouts && text == o.text;
}

std::string FormatTraceEvent(const TraceEvent& e) {
    std::ostringstream o;
    o << e.ms << ' ' << e.kind;
    if (e.kind == "tx" || e.kind == "rx") {
        o << ' ' << e.request << ' ' << ToHex(e.bytes.data(), e.bytes.size());
        if (e.kind == "rx") {
            o << " want=" << e.count;
        } else if (e.count != e.bytes.size()) {
            o << " written=" << e.count;
        }
        if (e.retry) {
            o << " retry";
        }
    } else if (e.kind == "get-line") {
        o << (e.failed ? " none" : "");
    } else if (e.kind == "set-line") {
        const LineSettings& s = e.line;
        o << ' ' << s.baudRate << ' ' << int{s.byteSize} << ' ' << ParityText(s.parity) << ' '
          << StopText(s.stopBits) << " dtr=" << int{s.dtrControl} << " rts=" << int{s.rtsControl}
          << (e.failed ? " refused" : "");
    } else if (e.kind == "timeouts") {
        const Timeouts& t = e.timeouts;
        o << ' ' << t.readInterval << ' ' << t.readTotalMultiplier << ' ' << t.readTotalConstant
          << ' ' << t.writeTotalMultiplier << ' ' << t.writeTotalConstant;
    } else if (e.kind == "discard") {
        if (e.count != 0) {
            o << " dropped=" << e.count;
        }
    } else if (e.kind == "note") {
        std::string text = e.text;
        for (char& c : text) {
            c = IsTraceControl(c) ? '?' : c;
        }
        o << ' ' << text;
    }
    return o.str();
}

}  // namespace fwburn

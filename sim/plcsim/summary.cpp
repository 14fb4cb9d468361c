#include "sim/plcsim/summary.hpp"

#include <algorithm>
#include <cstdio>

#include "sim/plcsim/fault_grammar.hpp"

namespace fwburn::sim::plcsim {

namespace {

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

const char* YesNo(bool b) {
    return b ? "yes" : "no";
}

const char* TrueFalse(bool b) {
    return b ? "true" : "false";
}

std::string BaudList(const std::vector<uint32_t>& bauds, const char* separator) {
    std::string out;
    for (const uint32_t b : bauds) {
        out += (out.empty() ? "" : separator) + std::to_string(b);
    }
    return out;
}

}  // namespace

std::vector<uint8_t> ReceivedImage(const Controller& controller) {
    const std::vector<uint8_t>& flash = controller.flash();
    const size_t n = std::min<size_t>(flash.size(), controller.expected().sentBytes);
    return std::vector<uint8_t>(flash.begin(), flash.begin() + static_cast<long>(n));
}

std::string SummaryText(const Controller& c, const ServedFacts& facts,
                        std::optional<bool> imageMatch, size_t maxViolations) {
    const Geometry& g = c.expected();
    std::string s;
    s += "plcsim summary\n";
    s += "  model:             " + std::string(c.model().name) + "\n";
    s += "  state:             " + std::string(StateName(c.state())) + "\n";
    s += "  image length:      " + std::to_string(c.config().imageLength) + "\n";
    s += "  erase steps:       " + std::to_string(c.eraseSteps()) + " (expected " +
         std::to_string(g.eraseSteps) + ")\n";
    s += "  blocks taken:      " + std::to_string(c.blocksTaken()) + " of " +
         std::to_string(g.blocks) + "\n";
    s += "  transfer complete: " + std::string(YesNo(c.transferComplete())) + "\n";
    if (imageMatch) {
        s += "  flash = image:     " + std::string(YesNo(*imageMatch)) + "\n";
    }
    s += "  baud rates:        " +
         (facts.baudRates.empty() ? std::string("none") : BaudList(facts.baudRates, ", ")) + "\n";
    s += "  host opens:        " + std::to_string(facts.hostOpens) + ", replugs " +
         std::to_string(facts.replugs) + ", power cycles " + std::to_string(facts.powerCycles) +
         "\n";
    s += "  bytes:             " + std::to_string(facts.bytesReceived) + " received, " +
         std::to_string(facts.bytesSent) + " sent, " + std::to_string(facts.bytesDropped) +
         " dropped\n";
    s += "  ended:             " + facts.endReason + "\n";
    const auto& v = c.violations();
    s += "  violations:        " + std::to_string(v.size()) + "\n";
    for (size_t i = 0; i < v.size() && i < maxViolations; ++i) {
        s += "    " + v[i] + "\n";
    }
    if (v.size() > maxViolations) {
        s += "    ... and " + std::to_string(v.size() - maxViolations) + " more\n";
    }
    return s;
}

std::string SummaryJson(const Controller& c, const ServedFacts& facts,
                        std::optional<bool> imageMatch) {
    const Geometry& g = c.expected();
    std::string s = "{\n";
    const auto field = [&s](const char* key, const std::string& value) {
        s += std::string("  \"") + key + "\": " + value + ",\n";
    };
    field("model", JsonString(std::string(c.model().name)));
    field("port", JsonString(facts.slavePath));
    field("state", JsonString(StateName(c.state())));
    field("imageLength", std::to_string(c.config().imageLength));
    field("eraseSteps", std::to_string(c.eraseSteps()));
    field("expectedEraseSteps", std::to_string(g.eraseSteps));
    field("blocksTaken", std::to_string(c.blocksTaken()));
    field("expectedBlocks", std::to_string(g.blocks));
    field("transferComplete", TrueFalse(c.transferComplete()));
    field("flashBytes", std::to_string(c.flash().size()));
    field("imageBytesReceived", std::to_string(ReceivedImage(c).size()));
    field("flashMatchesImage", imageMatch ? TrueFalse(*imageMatch) : "null");
    field("baudRates", "[" + BaudList(facts.baudRates, ", ") + "]");
    field("hostOpens", std::to_string(facts.hostOpens));
    field("replugs", std::to_string(facts.replugs));
    field("powerCycles", std::to_string(facts.powerCycles));
    field("usbUnplugs", std::to_string(facts.usbUnplugs));
    field("bytesReceived", std::to_string(facts.bytesReceived));
    field("bytesSent", std::to_string(facts.bytesSent));
    field("bytesDropped", std::to_string(facts.bytesDropped));
    std::string requests = "{";
    for (size_t p = 0; p < static_cast<size_t>(Phase::kCount); ++p) {
        const auto phase = static_cast<Phase>(p);
        requests += std::string(p == 0 ? "" : ", ") + JsonString(PhaseToken(phase)) + ": " +
                    std::to_string(c.requests(phase));
    }
    field("requests", requests + "}");
    field("endReason", JsonString(facts.endReason));
    field("violationCount", std::to_string(c.violationCount()));
    std::string list = "[";
    for (size_t i = 0; i < c.violations().size(); ++i) {
        list += std::string(i == 0 ? "\n    " : ",\n    ") + JsonString(c.violations()[i]);
    }
    s += "  \"violations\": " + list + (c.violations().empty() ? "]" : "\n  ]") + "\n}\n";
    return s;
}

}  // namespace fwburn::sim::plcsim

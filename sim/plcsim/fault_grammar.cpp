#include "sim/plcsim/fault_grammar.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <utility>

namespace fwburn::sim::plcsim {

namespace {

constexpr std::array<std::pair<Phase, const char*>, static_cast<size_t>(Phase::kCount)> kPhases{{
    {Phase::kWake, "wake"},
    {Phase::kModeQuery, "mode-query"},
    {Phase::kIdQuery, "id-query"},
    {Phase::kRegisterRead, "register-read"},
    {Phase::kVersionQuery, "version-query"},
    {Phase::kUpdateRequest, "update-request"},
    {Phase::kBootModeQuery, "boot-mode-query"},
    {Phase::kBootId, "boot-id"},
    {Phase::kBootVersion, "boot-version"},
    {Phase::kEraseStep, "erase-step"},
    {Phase::kEraseEnd, "erase-end"},
    {Phase::kUpdate, "update"},
    {Phase::kBlock, "block"},
    {Phase::kTransferEnd, "transfer-end"},
}};

constexpr std::array<std::pair<FaultKind, const char*>, 8> kKinds{{
    {FaultKind::kSilence, "silence"},
    {FaultKind::kShort, "short"},
    {FaultKind::kBadLrc, "bad-lrc"},
    {FaultKind::kLowerCase, "lower-case"},
    {FaultKind::kErrorReply, "error"},
    {FaultKind::kNak, "nak"},
    {FaultKind::kGarbage, "garbage"},
    {FaultKind::kLate, "late"},
}};

// Counts larger than this are no test anybody means; it also keeps them inside an int.
constexpr uint64_t kMaxCount = 1000000000;

// Decimal, or hexadecimal after "0x"; the whole text must be the number.
std::optional<uint64_t> Number(std::string_view s, bool hexAllowed) {
    int base = 10;
    if (hexAllowed && s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    uint64_t v = 0;
    const char* end = s.data() + s.size();
    const auto r = std::from_chars(s.data(), end, v, base);
    if (s.empty() || r.ec != std::errc() || r.ptr != end) {
        return std::nullopt;
    }
    return v;
}

struct PhasePart {
    Phase phase = Phase::kModeQuery;
    int skip = 0;
    int times = kForever;
    bool timesGiven = false;
};

// PHASE[:SKIP][xTIMES]; the longest phase name that starts the text wins ("update-request"
// before "update").
std::string ParsePhasePart(std::string_view text, PhasePart& out) {
    size_t best = 0;
    for (const auto& [phase, token] : kPhases) {
        const std::string_view t(token);
        if (t.size() > best && text.substr(0, t.size()) == t) {
            best = t.size();
            out.phase = phase;
        }
    }
    if (best == 0) {
        std::string all;
        for (const auto& p : kPhases) {
            all += (all.empty() ? "" : ", ") + std::string(p.second);
        }
        return "unknown phase \"" + std::string(text) + "\" (phases: " + all + ")";
    }
    std::string_view rest = text.substr(best);
    if (!rest.empty() && rest[0] == ':') {
        const size_t x = rest.find('x');
        const auto skip = Number(rest.substr(1, x == std::string_view::npos ? x : x - 1), false);
        if (!skip || *skip > kMaxCount) {
            return "SKIP after \":\" must be a count of requests, 0 or more";
        }
        out.skip = static_cast<int>(*skip);
        rest = x == std::string_view::npos ? std::string_view() : rest.substr(x);
    }
    if (!rest.empty() && rest[0] == 'x') {
        const auto times = Number(rest.substr(1), false);
        if (!times || *times == 0 || *times > kMaxCount) {
            return "TIMES after \"x\" must be a count of replies, 1 or more";
        }
        out.times = static_cast<int>(*times);
        out.timesGiven = true;
        rest = {};
    }
    if (!rest.empty()) {
        return "unexpected \"" + std::string(rest) + "\" after the phase (PHASE[:SKIP][xTIMES])";
    }
    return "";
}

std::string ParseId(std::string_view name, std::optional<std::string_view> value,
                    std::optional<uint16_t>& out) {
    const auto v = value ? Number(*value, true) : std::nullopt;
    if (!v || *v > 0xFFFF) {
        return std::string(name) +
               " needs a value 0 to 65535, decimal or 0x hex: " + std::string(name) + "=0x3010";
    }
    out = static_cast<uint16_t>(*v);
    return "";
}

std::string ParseVersion(std::optional<std::string_view> value, Faults& faults) {
    const std::string usage =
        "version needs MAJOR.MINOR, MAJOR 0 to 255 and MINOR 0 to 15: version=0.9";
    if (!value) {
        return usage;
    }
    const size_t dot = value->find('.');
    if (dot == std::string_view::npos) {
        return usage;
    }
    const auto major = Number(value->substr(0, dot), false);
    const auto minor = Number(value->substr(dot + 1), false);
    // The bootloader sends the minor number in the high four bits of a byte.
    if (!major || !minor || *major > 255 || *minor > 15) {
        return usage;
    }
    faults.version = BootloaderVersion{static_cast<uint8_t>(*major), static_cast<uint8_t>(*minor)};
    return "";
}

std::string ParseReplyFault(FaultKind kind, std::string_view name,
                            std::optional<std::string_view> value, const PhasePart& where,
                            ReplyFault& fault) {
    fault.phase = where.phase;
    fault.kind = kind;
    fault.skip = where.skip;
    fault.times = where.times;
    const bool asciiOnly = kind == FaultKind::kBadLrc || kind == FaultKind::kLowerCase ||
                           kind == FaultKind::kErrorReply;
    if (asciiOnly && !IsAsciiPhase(where.phase)) {
        return std::string(name) +
               " fits only the phases answered with ASCII frames: wake, mode-query, id-query, "
               "register-read, version-query, update-request, boot-mode-query";
    }
    if (kind == FaultKind::kNak && IsAsciiPhase(where.phase)) {
        return "nak fits only the bootloader's raw replies: boot-id, boot-version, erase-step, "
               "erase-end, update, block, transfer-end";
    }
    if (kind == FaultKind::kLate) {
        if (value) {
            const auto ms = Number(*value, false);
            if (!ms || *ms > kMaxCount) {
                return "late takes a delay in milliseconds: late=5000";
            }
            fault.delayMs = static_cast<int64_t>(*ms);
        }
        return "";
    }
    if (kind == FaultKind::kErrorReply) {
        const std::string usage = "error needs CLASS/STATE, each 0 to 255: error=2/3";
        const size_t slash = value ? value->find('/') : std::string_view::npos;
        if (slash == std::string_view::npos) {
            return usage;
        }
        const auto errorClass = Number(value->substr(0, slash), true);
        const auto errorState = Number(value->substr(slash + 1), true);
        if (!errorClass || !errorState || *errorClass > 255 || *errorState > 255) {
            return usage;
        }
        fault.errorClass = static_cast<uint8_t>(*errorClass);
        fault.errorState = static_cast<uint8_t>(*errorState);
        return "";
    }
    if (value) {
        return std::string(name) + " takes no value";
    }
    return "";
}

}  // namespace

const char* PhaseToken(Phase phase) {
    for (const auto& [p, token] : kPhases) {
        if (p == phase) {
            return token;
        }
    }
    return "?";
}

const char* KindToken(FaultKind kind) {
    for (const auto& [k, token] : kKinds) {
        if (k == kind) {
            return token;
        }
    }
    return "?";
}

std::string ParseFault(std::string_view text, Faults& faults) {
    const size_t at = text.find('@');
    const std::string_view head = text.substr(0, at);
    const size_t eq = head.find('=');
    const std::string_view name = head.substr(0, eq);
    const std::optional<std::string_view> value =
        eq == std::string_view::npos ? std::nullopt : std::optional(head.substr(eq + 1));
    PhasePart where;
    if (at != std::string_view::npos) {
        if (const std::string e = ParsePhasePart(text.substr(at + 1), where); !e.empty()) {
            return e;
        }
    }
    const bool hasPhase = at != std::string_view::npos;

    // Work on a copy: a text that turns out wrong halfway leaves nothing behind.
    Faults f = faults;
    std::string error;
    if (name == "silent" || name == "run-mode" || name == "stay-in-application" ||
        name == "boot-at-power-on" || name == "app-id" || name == "boot-id" || name == "d1386" ||
        name == "d1148" || name == "version") {
        if (hasPhase) {
            return std::string(name) + " applies to the whole controller and takes no @PHASE";
        }
        const bool flag = name == "silent" || name == "run-mode" || name == "stay-in-application" ||
                          name == "boot-at-power-on";
        if (flag && value) {
            return std::string(name) + " takes no value";
        }
        if (name == "silent") {
            f.silent = true;
        } else if (name == "run-mode") {
            f.runMode = true;
        } else if (name == "stay-in-application") {
            f.stayInApplication = true;
        } else if (name == "boot-at-power-on") {
            f.bootAtPowerOn = true;
        } else if (name == "app-id") {
            error = ParseId(name, value, f.appId);
        } else if (name == "boot-id") {
            error = ParseId(name, value, f.bootId);
        } else if (name == "d1386") {
            error = ParseId(name, value, f.d1386);
        } else if (name == "d1148") {
            error = ParseId(name, value, f.d1148);
        } else {
            error = ParseVersion(value, f);
        }
    } else if (name == "link-loss") {
        const bool block = hasPhase && where.phase == Phase::kBlock;
        const bool erase = hasPhase && where.phase == Phase::kEraseStep;
        if ((!block && !erase) || value) {
            return "link-loss takes only @block[:SKIP][xTIMES] or @erase-step[:SKIP][xTIMES]: "
                   "link-loss@block:99";
        }
        (block ? f.linkLossAfterBlock : f.linkLossAfterEraseStep) =
            static_cast<uint32_t>(where.skip) + 1;
        f.linkLossTimes = where.times;
    } else {
        const auto* kind = [&]() -> const FaultKind* {
            for (const auto& k : kKinds) {
                if (name == k.second) {
                    return &k.first;
                }
            }
            return nullptr;
        }();
        if (kind == nullptr) {
            return "unknown fault \"" + std::string(name) + "\" (see --help)";
        }
        if (!hasPhase) {
            return std::string(name) + " changes the replies of one phase: " + std::string(name) +
                   "@PHASE";
        }
        ReplyFault fault;
        error = ParseReplyFault(*kind, name, value, where, fault);
        f.replies.push_back(fault);
    }
    if (!error.empty()) {
        return error;
    }
    faults = std::move(f);
    return "";
}

std::string FaultGrammarHelp() {
    // The phase names, wrapped, each group under its own heading.
    const auto phases = [](bool ascii) {
        std::string text = ascii ? "    PHASE, answered with ASCII frames:"
                                 : "    PHASE, answered with raw bytes:";
        size_t lineStart = 0;
        for (const auto& p : kPhases) {
            if (IsAsciiPhase(p.first) != ascii) {
                continue;
            }
            if (text.size() - lineStart + std::string_view(p.second).size() > 88) {
                lineStart = text.size() + 1;
                text += "\n     ";
            }
            text += " " + std::string(p.second);
        }
        return text + "\n";
    };
    return std::string(
               "Faults (--fault, repeatable; the first reply fault that matches a request "
               "applies):\n"
               "  KIND[=VALUE]@PHASE[:SKIP][xTIMES]   changes the replies of one phase\n"
               "    silence        no reply; the request is not taken\n"
               "    short          the reply without its last byte; not taken\n"
               "    garbage        '~' bytes in place of the reply; not taken\n"
               "    late[=MS]      the right reply, MS ms later (default 3500); taken\n"
               "    bad-lrc        ASCII phases: LRC off by one; taken\n"
               "    lower-case     ASCII phases: hex digits in lower case; taken\n"
               "    error=C/S      ASCII phases: error reply of class C and state S; not taken\n"
               "    nak            raw phases: 0x15 in place of ACK; not taken\n") +
           phases(true) + phases(false) +
           "    :SKIP   requests of the phase answered normally first (default 0); for block,\n"
           "            blocks taken normally first: the fault hits block SKIP+1 of the image\n"
           "    xTIMES  faulted replies, then normal ones again (default: no end); for block,\n"
           "            sends of that block, resends included\n"
           "  Whole controller:\n"
           "    silent                never answers\n"
           "    run-mode              refuses mode, ID and update requests (error class 1)\n"
           "    app-id=ID, boot-id=ID model ID reported by the application / the bootloader\n"
           "    d1386=N, d1148=N      variant register values (decimal or 0x hex)\n"
           "    version=MAJOR.MINOR   bootloader version (e.g. 0.9)\n"
           "    link-loss@block[:SKIP] the link dies as block SKIP+1 arrives: the block is\n"
           "                          written, its ACK lost, and nothing passes until a replug\n"
           "                          or power cycle\n"
           "    link-loss@erase-step[:SKIP] the same as \"ERASE\" number SKIP+1 of an erase "
           "arrives\n"
           "                          xTIMES: only the first TIMES times (default: every time)\n"
           "    stay-in-application   comes back in the application after every restart\n"
           "    boot-at-power-on      starts (and restarts) in the bootloader\n"
           "  Examples: nak@block:9x2  error=2/3@id-query  late=4000@mode-query:1x1\n";
}

}  // namespace fwburn::sim::plcsim

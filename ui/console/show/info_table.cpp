#include "ui/console/show/info_table.hpp"

#include <algorithm>

#include "burn/messages.hpp"
#include "catalogue/profile.hpp"
#include "protocol/result_codes.hpp"
#include "ui/console/session/outcome.hpp"
#include "ui/console/show/diagnosis.hpp"
#include "ui/console/show/json_line.hpp"
#include "ui/console/show/progress.hpp"
#include "ui/console/show/shown_text.hpp"
#include "ui/console/show/wording.hpp"

namespace fwburn::console {

namespace {

std::string ModeName(const InfoRow& row) {
    if (!row.signal.empty()) {
        return "interrupted";
    }
    if (!row.opened) {
        return "not opened";
    }
    switch (row.report.mode) {
        case kApplicationMode:
            return "application";
        case kBootMode:
            return "bootloader";
        case kRunMode:
            return "run mode";
        case kNoAcceptableReply:
            return "no answer";
        default:
            return "error reply";
    }
}

std::string Version(uint8_t version) {
    return std::to_string(version >> 4) + "." + std::to_string(version & 0x0F);
}

const char* RegisterName(VariantRegister reg) {
    return reg == VariantRegister::D1386 ? "D1386" : reg == VariantRegister::D1148 ? "D1148" : "";
}

// Why the row's controller takes no update from this program, or what kept it from answering.
std::string Why(const InfoRow& row, int programRow) {
    if (!row.opened) {
        UpdateOutcome o;
        o.kind = OutcomeKind::PortNotOpened;
        const Explanation e = Explain(o, programRow, ThisBuildProfile().bootIdRule, row.denied);
        return row.openFailure + (e.text.empty() ? "" : "; " + e.text);
    }
    const ProbeReport& r = row.report;
    std::string why = r.why;
    if (row.hungUp) {
        // Whatever came before: nothing more could come on a line that is gone.
        why += std::string(r.answered() ? "; " : ": ") +
               "the port went away under the look (the line hung up: the cable pulled, or the "
               "PLC's power lost): check the cable and the PLC's power";
    } else if (!r.answered()) {
        if (r.silence.finding == Finding::OnlyEarlier) {
            why += ": the wake-up was answered, the mode query never, at either address";
        } else {
            // The words an update's diagnosis has for the same silence.
            UpdateOutcome o;
            o.kind = OutcomeKind::CommunicationFailed;
            o.diagnosis = r.silence;
            const Explanation e = Explain(o, programRow, ThisBuildProfile().bootIdRule, false);
            why += e.text.empty() ? "" : ": " + e.text;
        }
    }
    return why;
}

constexpr size_t kCells = 7;
constexpr const char* kHeads[kCells] = {"PORT",    "MODE",       "MODEL", "ID",
                                        "VARIANT", "BOOTLOADER", "FITS"};
constexpr const char* kLabels[kCells] = {"",        "mode",       "model", "ID",
                                         "variant", "bootloader", "fits"};

// One row of the table for a terminal narrower than the table: the port on a line of its own,
// then what was read two columns in, as "label value" pairs broken between pairs. A cell that
// was not read ("-") is left out.
void AddRecord(std::vector<std::string>& lines, const std::vector<std::string>& cells,
               size_t columns) {
    lines.push_back(cells[0]);
    std::string line = "  ";
    for (size_t i = 1; i < kCells; ++i) {
        if (cells[i] == "-") {
            continue;
        }
        const std::string pair = kLabels[i] + (" " + cells[i]) + (i + 1 < kCells ? "," : "");
        if (line.size() > 2 && Width(line) + 1 + Width(pair) >= columns) {
            lines.push_back(line);
            line = "  ";
        }
        line += (line.size() > 2 ? " " : "") + pair;
    }
    lines.push_back(line);
}

}  // namespace

int InfoExitCode(const InfoRow& row) {
    if (row.status != 0) {
        return row.status;
    }
    return !row.opened ? kExitPortFailed : row.report.answered() ? kExitSuccess : kExitCommFailed;
}

std::vector<std::string> InfoTable(const std::vector<InfoRow>& rows, int programRow, int columns) {
    std::vector<std::vector<std::string>> cells = {{kHeads, kHeads + kCells}};
    for (const InfoRow& row : rows) {
        const ProbeReport& r = row.report;
        std::string id = "-";
        if (row.opened && r.idRead) {
            id = Hex(r.id, 4);
        } else if (row.opened && r.bootIdRead) {
            id = "boot " + Hex(r.bootId, 4);
        }
        if (row.opened && r.otherAddress) {
            id += " @" + Hex(r.targetByte, 2);
        }
        const bool named = row.opened && (r.idRead || r.bootIdRead);
        cells.push_back(
            {Shown(row.port), ModeName(row),
             named ? (r.models[0] != '\0' ? r.models : "unknown") : "-", id,
             row.opened && r.variantRead
                 ? std::string(RegisterName(r.variantRegister)) + "=" + Hex(r.variantValue, 4)
                 : "-",
             row.opened && r.versionRead ? Version(r.version) : "-",
             row.opened && r.fits ? "yes" : "no"});
    }
    std::vector<size_t> widths(kCells, 0);
    for (const auto& line : cells) {
        for (size_t i = 0; i < kCells; ++i) {
            widths[i] = std::max(widths[i], Width(line[i]));
        }
    }
    std::vector<std::string> lines;
    size_t widest = 0;
    for (const auto& line : cells) {
        std::string text;
        for (size_t i = 0; i < kCells; ++i) {
            text += line[i];
            if (i + 1 < kCells) {
                text += std::string(widths[i] - Width(line[i]) + 2, ' ');
            }
        }
        widest = std::max(widest, Width(text));
        lines.push_back(text);
    }
    if (columns > 0 && widest >= static_cast<size_t>(columns)) {
        // The terminal would wrap the table's rows into each other: each port on lines of its own.
        lines.clear();
        for (size_t r = 1; r < cells.size(); ++r) {
            AddRecord(lines, cells[r], static_cast<size_t>(columns));
        }
    }
    for (const InfoRow& row : rows) {
        if (!row.opened || !row.report.fits) {
            // An open failure names its path already. On a terminal every word is kept, as in
            // an update's final message: the words name what to check.
            const std::string why =
                Shown((row.opened ? row.port + ": " : "") + Why(row, programRow));
            lines.push_back(columns > 0 ? WrapLine(why, columns) : why);
        }
    }
    return lines;
}

std::string InfoJson(const InfoRow& row, const std::string& program, int programRow) {
    const ProbeReport& r = row.report;
    // A field read from the controller; null where it was not.
    const auto read = [&row](bool wasRead, const Json& value) {
        return row.opened && wasRead ? value : Json();
    };
    Json line = {{"event", "info"},
                 {"program", program},
                 {"model", ModelName(programRow)},
                 {"standIn", ThisBuildProfile().standInImage},
                 // null: none was found
                 {"port", row.port.empty() ? Json() : Json(row.port)},
                 // null: cut short, whether it had opened is not known
                 {"opened", row.signal.empty() ? Json(row.opened) : Json()},
                 {"answered", row.opened && r.answered()},
                 {"mode", ModeName(row)}};
    // Null, not absent, for a port that did not open: every object has the same fields.
    line["address"] = row.opened ? Json(Hex(r.targetByte, 2)) : Json();
    line["otherAddress"] = row.opened ? Json(r.otherAddress) : Json();
    line["modelId"] = read(r.idRead, r.id);
    line["bootId"] = read(r.bootIdRead, r.bootId);
    line["models"] = read(r.idRead || r.bootIdRead, std::string(r.models));
    line["variantRegister"] = read(r.variantRead, RegisterName(r.variantRegister));
    line["variantValue"] = read(r.variantRead, r.variantValue);
    line["bootloaderVersion"] = read(r.versionRead, Version(r.version));
    const bool fits = row.opened && r.fits;
    line["fits"] = fits;
    line["why"] = fits ? Json() : Json(Why(row, programRow));
    line["exitCode"] = InfoExitCode(row);
    if (!row.signal.empty()) {
        line["signal"] = row.signal;
    }
    return JsonText(line);
}

int ShowInfo(std::FILE* out, const std::vector<InfoRow>& rows, const std::string& program,
             int programRow, bool json, bool standIn, int columns) {
    std::vector<int> codes;
    for (const InfoRow& row : rows) {
        codes.push_back(InfoExitCode(row));
        if (json) {
            std::fputs(InfoJson(row, program, programRow).c_str(), out);
        }
    }
    if (!json) {
        for (const std::string& line : InfoTable(rows, programRow, columns)) {
            std::fprintf(out, "%s\n", line.c_str());
        }
        if (standIn) {
            const std::string note =
                "This test build's image is a stand-in of random bytes, not a firmware: written "
                "into a PLC it leaves the PLC unusable.";
            std::fprintf(out, "%s\n", (columns > 0 ? WrapLine(note, columns) : note).c_str());
        }
    }
    std::fflush(out);
    return WorstExitCode(codes);
}

}  // namespace fwburn::console

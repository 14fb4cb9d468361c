#include "ui/console/show/board.hpp"

#include <algorithm>

#include "ui/console/session/outcome.hpp"
#include "ui/console/show/json_line.hpp"
#include "ui/console/show/shown_text.hpp"

namespace fwburn::console {

namespace {

// A JSON summary's word for a controller still under way when the run was ended.
const char* RowResult(const SummaryRow& row) {
    return row.interrupted ? ResultName(kExitInterrupted) : ResultName(ExitCode(row.exitCode));
}

// `line` printed once, but on a terminal of `columns` still kept to one line: "..." where it is
// cut.
std::string OneLine(const std::string& line, int columns) {
    if (columns > 0 && Width(line) > static_cast<size_t>(columns - 1)) {
        return HeadWithin(line, columns > 4 ? columns - 4 : 0) + "...";
    }
    return line;
}

}  // namespace

std::vector<std::string> SummaryTable(const std::vector<SummaryRow>& results, int columns) {
    size_t controllerWidth = std::string("CONTROLLER").size();
    size_t resultWidth = std::string("RESULT").size();
    for (const SummaryRow& r : results) {
        controllerWidth = std::max(controllerWidth, Width(Shown(r.controller)));
        resultWidth = std::max(resultWidth, std::string(ResultName(ExitCode(r.exitCode))).size());
    }
    // On a terminal a name gives way to the other columns and the start of the message: each
    // result stays in sight.
    if (columns > 0) {
        const long others = 2 + static_cast<long>(resultWidth) + 2 + 7 + 2 + 10;
        controllerWidth =
            std::min<size_t>(controllerWidth, std::max<long>(columns - 1 - others, 10));
    }
    const auto row = [&](const std::string& controller, const std::string& result,
                         const std::string& time, const std::string& message) {
        std::string line = controller + std::string(controllerWidth - Width(controller) + 2, ' ') +
                           result + std::string(resultWidth - result.size() + 2, ' ') +
                           std::string(time.size() < 7 ? 7 - time.size() : 0, ' ') + time + "  " +
                           message;
        line = OneLine(line, columns);
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        return line;
    };
    std::vector<std::string> lines{row("CONTROLLER", "RESULT", "TIME", "MESSAGE")};
    for (const SummaryRow& r : results) {
        lines.push_back(row(CutName(Shown(r.controller), controllerWidth),
                            ResultName(ExitCode(r.exitCode)), FormatDuration(r.elapsed),
                            Shown(r.message)));
    }
    return lines;
}

std::string SummaryTail(const std::vector<SummaryRow>& results, int columns, int rows) {
    // "Summary:", the heading and a row each, and the line the cursor is left on.
    if (rows <= 0 || results.size() + 3 <= static_cast<size_t>(rows)) {
        return {};
    }
    std::string names;
    size_t failed = 0;
    for (const SummaryRow& r : results) {
        if (r.exitCode != kExitSuccess) {
            names += (failed++ == 0 ? ": " : ", ") + Shown(r.controller) + " " +
                     ResultName(ExitCode(r.exitCode));
        }
    }
    if (failed == 0) {
        return {};
    }
    return OneLine("Not succeeded: " + std::to_string(failed) + " of " +
                       std::to_string(results.size()) + names,
                   columns);
}

std::string BoardLine(const std::string& label, const ProgressView& view, const char* result,
                      bool waiting, int columns) {
    const size_t limit = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
    // A long label gives way to the status line, which keeps its phase and counts in 40 columns.
    const std::string tag = CutName(Shown(label), std::max<size_t>(limit, 52) - 40) + " ";
    if (result == nullptr) {
        const std::string line =
            waiting ? tag + "waiting for the replug"
                    : tag + TerminalLine(view, columns - static_cast<int>(Width(tag)));
        return HeadWithin(line, limit);
    }
    // Nothing is left to come: no rate, no time left. A run that never began a phase has no
    // count to tell (the checks counted nothing).
    std::string line = tag + result;
    if (view.phase != Phase::Checking) {
        line += std::string("  ") + PhaseTitle(view.phase) + " " + std::to_string(view.done) + "/" +
                std::to_string(view.total) + " " + view.unit();
    }
    if (view.errCounter != 0 || view.totalErrCounter != 0) {
        line += "  retries " + std::to_string(view.errCounter) + "/" +
                std::to_string(view.totalErrCounter);
    }
    return WholeParts(line, limit);
}

namespace {

// Where a controller comes on a board too tall for the terminal, and its word in the count of
// those left out.
enum BoardStanding : int {
    kBoardFailed,
    kBoardWaiting,
    kBoardRunning,
    kBoardSucceeded,
    kBoardStandings
};
const char* const kBoardStandingWords[kBoardStandings] = {"failed", "waiting", "running",
                                                          "succeeded"};

BoardStanding StandingOf(const BoardEntry& entry) {
    if (entry.result != nullptr) {
        return entry.failed ? kBoardFailed : kBoardSucceeded;
    }
    return entry.waiting ? kBoardWaiting : kBoardRunning;
}

}  // namespace

std::vector<std::string> BoardLines(const std::vector<BoardEntry>& entries, int columns, int rows) {
    std::vector<std::string> lines;
    const auto line = [&](const BoardEntry& e) {
        lines.push_back(BoardLine(e.label, e.view, e.result, e.waiting, columns));
    };
    const int room = rows - 2;
    if (rows <= 0 || entries.size() <= static_cast<size_t>(std::max(room, 0))) {
        for (const BoardEntry& e : entries) {
            line(e);
        }
        return lines;
    }
    // One line stays for the count of those left out.
    const size_t shown = room > 1 ? static_cast<size_t>(room - 1) : 0;
    size_t left[kBoardStandings] = {};
    for (int standing = kBoardFailed; standing < kBoardStandings; ++standing) {
        for (const BoardEntry& e : entries) {
            if (StandingOf(e) != standing) {
                continue;
            }
            if (lines.size() < shown) {
                line(e);
            } else {
                ++left[standing];
            }
        }
    }
    if (room < 1) {
        return lines;
    }
    std::string more;
    size_t count = 0;
    for (int standing = kBoardFailed; standing < kBoardStandings; ++standing) {
        count += left[standing];
        if (left[standing] != 0) {
            more += (more.empty() ? "" : ", ") + std::to_string(left[standing]) + " " +
                    kBoardStandingWords[standing];
        }
    }
    more = "+" + std::to_string(count) + " more: " + more;
    lines.push_back(more.substr(0, columns > 1 ? static_cast<size_t>(columns - 1) : 0));
    return lines;
}

int ShowSummary(std::FILE* out, const std::vector<SummaryRow>& rows, bool json, int columns,
                double elapsed, const char* signal, int status) {
    std::vector<int> codes;
    Json controllers = Json::array();
    for (const SummaryRow& row : rows) {
        codes.push_back(row.exitCode);
        controllers.push_back(Json{{"port", row.port},
                                   {"identity", row.controller},
                                   {"result", RowResult(row)},
                                   {"exitCode", row.exitCode},
                                   {"message", row.message},
                                   {"elapsed", Fixed(row.elapsed)}});
    }
    const int worst = signal != nullptr ? status : WorstExitCode(codes);
    if (json) {
        Json line = {{"event", "summary"},
                     {"controllers", controllers},
                     {"exitCode", worst},
                     {"result", ResultName(signal != nullptr ? kExitInterrupted : ExitCode(worst))},
                     {"elapsed", Fixed(elapsed)}};
        if (signal != nullptr) {
            line["signal"] = signal;
        }
        std::fputs(JsonText(line).c_str(), out);
    } else {
        std::fputs("Summary:\n", out);
        for (const std::string& row : SummaryTable(rows, columns)) {
            std::fprintf(out, "%s\n", row.c_str());
        }
    }
    std::fflush(out);
    return worst;
}

}  // namespace fwburn::console

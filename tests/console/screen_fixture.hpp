// What the tests of the console's screens and lines share: a screen's two streams caught in
// temporary files, the run and the figures they are fed, and the lines a terminal would show.
#pragma once

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "ui/console/show/progress.hpp"
#include "ui/console/show/screen.hpp"

namespace fwburn::console::fixture {

// All that `f` holds; what is written next goes after it.
inline std::string Contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) {
        text.append(buffer, n);
    }
    std::fseek(f, 0, SEEK_END);
    return text;
}

// A screen's stdout and stderr.
struct Captured {
    Captured() = default;
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;
    ~Captured() {
        std::fclose(out);
        std::fclose(err);
    }
    std::string Out() const { return Contents(out); }
    std::string Err() const { return Contents(err); }

    std::FILE* const out = std::tmpfile();
    std::FILE* const err = std::tmpfile();
};

// One variable of the environment set, or unset for nullptr, until the end of the scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* before = std::getenv(name);
        had_ = before != nullptr;
        before_ = had_ ? before : "";
        Set(value);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() { Set(had_ ? before_.c_str() : nullptr); }

  private:
    void Set(const char* value) const {
        if (value != nullptr) {
            setenv(name_, value, 1);
        } else {
            unsetenv(name_);
        }
    }
    const char* name_;
    bool had_ = false;
    std::string before_;
};

// The lines of `text`, the empty one after its last newline left out.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The visible lines a terminal would show: what follows each line's last carriage return, the
// escape sequences and the lines left empty left out.
inline std::vector<std::string> Visible(const std::string& text) {
    std::vector<std::string> shown;
    for (std::string line : Lines(text)) {
        line = line.substr(line.rfind('\r') == std::string::npos ? 0 : line.rfind('\r') + 1);
        std::string plain;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\033') {
                while (i + 1 < line.size() &&
                       !std::isalpha(static_cast<unsigned char>(line[++i]))) {
                }
                continue;
            }
            plain += line[i];
        }
        if (!plain.empty()) {
            shown.push_back(plain);
        }
    }
    return shown;
}

// `text` without the terminal's own sequences: the cursor hidden and shown, the line cleared.
inline std::string WithoutCursor(std::string text) {
    for (const std::string own : {"\033[?25l", "\033[?25h", "\033[K"}) {
        for (size_t at; (at = text.find(own)) != std::string::npos;) {
            text.erase(at, own.size());
        }
    }
    return text;
}

inline RunInfo Info(const char* imageName = "ZL500_v1.06.40_0628_01_DDRVA_odd_axis_resume.bin") {
    RunInfo info;
    info.program = "fwburn-cpu-cli";
    info.version = "0.1.0";
    info.model = "ZL500";
    info.imageName = imageName;
    info.imageLength = 2076672;
    info.standIn = true;
    info.totals = PhaseTotals{506, 8096, 256};
    return info;
}

inline UpdateOutcome Outcome(OutcomeKind kind, const char* caption, const char* text,
                             bool erased = false) {
    UpdateOutcome outcome;
    outcome.kind = kind;
    outcome.caption = caption;
    std::snprintf(outcome.text, sizeof outcome.text, "%s", text);
    outcome.erased = erased;
    return outcome;
}

// The full ZL500 image, 42 % programmed.
inline ProgressView Programming(int32_t errCounter = 1, int32_t totalErrCounter = 4) {
    ProgressView v;
    v.phase = Phase::Programming;
    v.percent = 42;
    v.done = 3400;
    v.total = 8096;
    v.phaseSeconds = 10;
    v.bytesPerSecond = 87040;
    v.etaSeconds = 13.8;
    v.errCounter = errCounter;
    v.totalErrCounter = totalErrCounter;
    return v;
}

}  // namespace fwburn::console::fixture

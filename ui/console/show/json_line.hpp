// JSON for automation: one object per line, its fields in the order they were added.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "ui/console/show/shown_text.hpp"

namespace fwburn::console {

using Json = nlohmann::ordered_json;

// `value` written with one decimal; null when it is negative (unknown) or not finite.
inline Json Fixed(double value) {
    if (!(value >= 0) || !std::isfinite(value)) {
        return nullptr;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return std::strtod(text, nullptr);
}

// `json` on one line, with its newline. Control characters (C1 too) and the marks that reorder a
// line are escaped, other valid UTF-8 passes through, and bytes that are no valid UTF-8 become
// U+FFFD: a path may be any bytes.
inline std::string JsonText(const Json& json) {
    return QuietJson(json.dump(-1, ' ', false, Json::error_handler_t::replace)) + "\n";
}

}  // namespace fwburn::console

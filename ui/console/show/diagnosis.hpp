// What the console adds before the final message, which stays the window's: the finding the
// worker made (another model's ID, a silent port, bytes that made no reply), an erased controller
// that needs the update again, a port the user may not open. On stderr, and as a JSON event.
#pragma once

#include <cstdint>
#include <string>

#include "burn/outcome.hpp"
#include "catalogue/catalogue.hpp"
#include "ui/console/show/shown_text.hpp"

namespace fwburn::console {

struct Explanation {
    std::string finding;  // "wrong-model", "no-bytes", ...; empty when there is nothing to add
    std::string text;     // the person's line
    // Of the controller's answers, for the JSON event.
    bool hasId = false;
    uint16_t id = 0;
    bool bootloader = false;
    std::string models;          // the catalogue's names for that ID
    int64_t bytesReceived = -1;  // -1: not told
    std::string lastBytes;       // printable: the first bytes of the last read that brought any
};

// `row` and `rule` are the program's model and bootloader ID rule; `denied` when the update's last
// open (the first, or a reopen after the update request) failed for want of permission, and
// `openFailure` why that open failed (the path and the reason), if it did; `hungUp` when the
// device opened last went away under the update.
Explanation Explain(const UpdateOutcome& outcome, int row, BootIdRule rule, bool denied,
                    const std::string& openFailure = {}, bool hungUp = false);

}  // namespace fwburn::console

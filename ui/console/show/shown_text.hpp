// Text that comes from outside the program (a USB device's product and serial strings, sysfs
// names, paths, a controller's bytes) made safe to print: a terminal obeys control characters,
// so a device could otherwise retitle the window, recolour it or move the cursor over our lines.
// JSON needs none of this: its strings escape every control character already.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fwburn::console {

// `text` as a terminal may show it: valid printable UTF-8 as it is; C0 controls, DEL, C1
// controls (raw or encoded as UTF-8), the marks that reorder or break a line (U+061C, U+200E,
// U+200F, U+2028-U+202E, U+2066-U+2069) and bytes that are no valid UTF-8 escaped byte by byte,
// as Printable does ("\r", "\n", "\xHH"). A backslash stays as it is: names keep their look.
std::string Shown(const std::string& text);

// At most the first `length` bytes of `text`: never part of a character of several bytes, so
// that a line cut to the terminal's width stays valid UTF-8 (but where `length` is less than one
// character, its bytes: a cut always leaves something).
std::string Head(const std::string& text, size_t length);
// The columns `text` takes on a terminal: one a character, two for the wide ones of East Asian
// scripts and the emoji, none for a combining diacritical mark or a zero-width space or joiner.
// What lines a table's columns up, and keeps a cut name within its room, when a name has characters
// of several bytes.
size_t Width(const std::string& text);
// The first, or the last, whole characters of `text` that take at most `columns` columns.
std::string HeadWithin(const std::string& text, size_t columns);
std::string TailWithin(const std::string& text, size_t columns);

// A JSON text (valid UTF-8, as JsonText makes it) with the code points that Shown escapes written
// as JSON escapes ("\u009B", "\u202E"): a reader decodes the same text, and a JSON line that
// reaches a terminal as it is (`cat`, a log viewer) cannot repaint it or reorder what it shows.
// Outside strings JSON is ASCII, so only string contents change.
std::string QuietJson(const std::string& json);

// Bytes as a person can read them between quotes: printable ASCII as it is, CR and LF as \r and
// \n, a backslash and a quote escaped, anything else as \xHH.
std::string Printable(const uint8_t* bytes, size_t length);

}  // namespace fwburn::console

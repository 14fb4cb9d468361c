// The names Windows gives to devices rather than files, which --extract-image must never take for
// its file: "NUL" or "COM1" opens the device in every folder, whatever follows the name. No
// platform header here, so the rule is tested on every platform.
#pragma once

#include <string>

namespace fwburn::console {

// Whether `path` (UTF-8, '/' or '\') names a device: its last part, less any extension, trailing
// dots and blanks, is CON, PRN, AUX, NUL, COM0 to COM9 or LPT0 to LPT9 (also with the
// superscript digits 1, 2 and 3), CONIN$ or CONOUT$, in any case; or the path is in the device
// namespace ("\\.\...", or "\\?\" followed by anything but a drive or UNC).
bool NamesADevice(const std::string& path);

}  // namespace fwburn::console

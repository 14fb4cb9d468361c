// --extract-image: the built-in image written to a file, replacing only what is safe to replace.
#pragma once

#include <string>

namespace fwburn::console {

// Writes the built-in image to `file` and says so (a JSON line with `json`). Returns the exit
// status: 0, 3 when the image is missing or damaged, 1 when the file cannot be written.
int ExtractImage(const char* program, const std::string& file, bool json);

}  // namespace fwburn::console

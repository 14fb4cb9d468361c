// --extract-image: the built-in image written to a file, replacing only what is safe to replace.
#pragma once

#include <string>

#include "catalogue/profile.hpp"

namespace fwburn::console {

// Why the built-in image cannot be vouched for: missing or empty, or not the bytes whose SHA-256
// the build recorded (a damaged program file); nullptr when it is whole.
const char* BuiltInImageFault(const EmbeddedImage& image);

// Writes the built-in image to `file` and says so (a JSON line with `json`). Returns the exit
// status: 0, 3 when the image is missing or damaged, 1 when the file cannot be written.
int ExtractImage(const char* program, const std::string& file, bool json);

}  // namespace fwburn::console

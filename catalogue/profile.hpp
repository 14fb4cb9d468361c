// The build profile this program was made with: its firmware image, the image's built-in name, the
// date text, and the boot-mode ID rule. Defined by the profile library the program links.
#pragma once

#include <cstdint>

#include "catalogue/catalogue.hpp"

namespace fwburn {

struct EmbeddedImage {
    const uint8_t* data;
    uint32_t length;
};

struct BuildProfile {
    const char* name;       // "cpu", "aio", or a test profile
    const char* imageName;  // the built-in image name; its text before "_" names the model
    const char* dateText;   // "Date: yyyy/mm/dd", 16 characters
    BootIdRule bootIdRule;
    bool standInImage;        // true when the build generated the image (no real one supplied)
    const char* imageSha256;  // SHA-256 of the image, 64 lower-case hex digits, made by the build
};

const BuildProfile& ThisBuildProfile();

// The image of this build: the "BIN" resource on Windows, a linked-in blob elsewhere. Read-only,
// mapped for the life of the process.
EmbeddedImage TheEmbeddedImage();

// Copies the built-in image name's model prefix (the text before the first "_") into `out`, always
// zero-terminated. A prefix longer than 9 characters names no model: `out` is left empty and the
// result is false (a cut prefix could otherwise name another model, "ZL500-AIOX" as "ZL500-AIO").
bool ImageNameModel(const char* imageName, char (&out)[10]);

}  // namespace fwburn

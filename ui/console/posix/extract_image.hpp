// The safe replacement of a file on Linux, for --extract-image.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace fwburn::console {

// How the data goes to the temporary file; a test puts a failing one in.
using WriteFunction = ssize_t (*)(int fd, const void* data, size_t length);

// Puts `data` at `file` through a temporary file of its own in the same directory, made anew
// (never one that was there), synced and then renamed over `file`: a reader sees the old file or
// the whole new one. `file` may be missing or a regular file, whose mode and owner the new one
// keeps; anything else (a symbolic link, a device, a FIFO, a directory) is refused, as is a file
// that is not writable. On any failure, a signal that ends the process included, the temporary
// file is removed and `file` is as it was; false then, with the reason in `error`.
bool ReplaceFile(const std::string& file, const uint8_t* data, size_t length, std::string& error,
                 WriteFunction write = nullptr);

}  // namespace fwburn::console

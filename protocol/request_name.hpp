// Names what a write on the link is, by its bytes: for the link trace.
#pragma once

#include <cstdint>
#include <string>

namespace fwburn {

// The name of a request by its bytes: an application-mode request text, a bootloader word, EOT,
// or a block frame with its number. "unknown" otherwise.
std::string RequestName(const uint8_t* data, uint32_t length);

}  // namespace fwburn

// ASCII frames of application mode: ":" + hex pairs of address, function, data and LRC + CR LF.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fwburn {

// Two's complement of the byte sum: all bytes of a frame, LRC included, sum to 0 modulo 256.
uint8_t Lrc(const uint8_t* bytes, size_t count);

// Writes the frame of `bytes` (LRC appended) into `out`: 2 * count + 5 characters. Returns the
// count written, or 0 when `capacity` is too small (nothing is written then).
size_t EncodeFrame(const uint8_t* bytes, size_t count, char* out, size_t capacity);

// Checks `count` hex characters of a reply (the LRC pair included, CR LF excluded) and decodes
// them in place, byte k at position k. Returns 0 when every character is an upper-case hex digit
// and the decoded bytes sum to 0 modulo 256; any other value rejects the reply. Stops at the first
// character that is no hex digit, leaving the rest of the text as received. An odd count is
// rejected without reading anything.
uint8_t CheckLRC(uint8_t* text, uint8_t count);

}  // namespace fwburn

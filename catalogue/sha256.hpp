// SHA-256, to check the embedded image against the digest the build recorded before anything is
// erased. Portable and dependency-free: the same code runs in the Windows programs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fwburn {

struct Sha256Digest {
    uint8_t bytes[32];
};

Sha256Digest Sha256(const uint8_t* data, size_t length);

// Writes 64 lower-case hex digits and a terminating zero.
void Sha256Hex(const Sha256Digest& digest, char (&out)[65]);

// True when `data` hashes to `expectedHex` (64 hex digits, either case).
bool Sha256Matches(const uint8_t* data, size_t length, const char* expectedHex);

}  // namespace fwburn

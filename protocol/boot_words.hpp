// The bootloader's vocabulary: the plain-text words it takes, and its one-byte signals.
#pragma once

#include <cstdint>

namespace fwburn {

struct BootWord {
    const uint8_t* bytes;
    uint32_t length;
    const char* name;
};

namespace boot_words_detail {
inline constexpr uint8_t kId[] = {'I', 'D'};
inline constexpr uint8_t kVersion[] = {'V', 'E', 'R', 'S', 'I', 'O', 'N'};
inline constexpr uint8_t kErase[] = {'E', 'R', 'A', 'S', 'E'};
inline constexpr uint8_t kUpdate[] = {'U', 'P', 'D', 'A', 'T', 'E'};
}  // namespace boot_words_detail

inline constexpr BootWord kIdWord{boot_words_detail::kId, sizeof boot_words_detail::kId, "ID"};
inline constexpr BootWord kVersionWord{boot_words_detail::kVersion,
                                       sizeof boot_words_detail::kVersion, "VERSION"};
inline constexpr BootWord kEraseWord{boot_words_detail::kErase, sizeof boot_words_detail::kErase,
                                     "ERASE"};
inline constexpr BootWord kUpdateWord{boot_words_detail::kUpdate, sizeof boot_words_detail::kUpdate,
                                      "UPDATE"};
inline constexpr BootWord kAllBootWords[] = {kIdWord, kVersionWord, kEraseWord, kUpdateWord};

constexpr uint8_t kAck = 0x06;
constexpr uint8_t kEot = 0x04;  // ends the erase and the transfer
constexpr uint8_t kStx = 0x02;  // starts a block

}  // namespace fwburn

// Block checksum of the image transfer: CRC-16/XMODEM (poly 0x1021, init 0, no reflection).
#pragma once

#include <cstddef>
#include <cstdint>

namespace fwburn::sim {

// Computed bit by bit: slow but plainly different from a table-driven sender.
uint16_t Crc16Xmodem(const uint8_t* data, size_t length);

}  // namespace fwburn::sim

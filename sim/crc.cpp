#include "sim/crc.hpp"

namespace fwburn::sim {

uint16_t Crc16Xmodem(const uint8_t* data, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            const bool top = (crc & 0x8000) != 0;
            crc = static_cast<uint16_t>(crc << 1);
            if (top) {
                crc = static_cast<uint16_t>(crc ^ 0x1021);
            }
        }
    }
    return crc;
}

}  // namespace fwburn::sim

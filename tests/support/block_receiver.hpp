// A block receiver written from the controller's side for transfer tests: it checks each frame,
// keeps what it accepted, and answers ACK or NAK with a chosen delay.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/fake_device.hpp"

namespace fwburn::test {

// Bitwise CRC-16/XMODEM, independent of the table-driven one under test.
inline uint16_t BitwiseCrc16(const uint8_t* data, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

class BlockReceiver {
  public:
    explicit BlockReceiver(size_t blockSize) : blockSize_(blockSize) {}

    // Decides the reply to the n-th arrival (0-based) of block `index` (0-based): return the
    // reaction (ACK by default).
    std::function<Reaction(size_t index, int arrival)> policy;

    Reaction OnWrite(const Bytes& w) {
        if (w.size() == 1 && w[0] == 0x04) {
            eotSeen = true;
            return Answer(0x06, 0);
        }
        if (w.size() != blockSize_ + 5 || w[0] != 0x02 ||
            static_cast<uint8_t>(w[1] + w[2]) != 0xFF) {
            violations.push_back("malformed frame of " + std::to_string(w.size()) + " bytes");
            return Answer(0x15, 0);
        }
        const uint16_t crc = BitwiseCrc16(w.data() + 3, blockSize_);
        if (w[3 + blockSize_] != (crc >> 8) || w[4 + blockSize_] != (crc & 0xFF)) {
            violations.push_back("bad CRC");
            return Answer(0x15, 0);
        }
        const auto expected = static_cast<uint8_t>(blocks.size() + 1);
        const auto previous = static_cast<uint8_t>(blocks.size());
        size_t index;
        if (w[1] == expected) {
            index = blocks.size();
        } else if (!blocks.empty() && w[1] == previous) {
            index = blocks.size() - 1;  // a resend of a block already taken
        } else {
            violations.push_back("block number " + std::to_string(w[1]) + " out of order");
            return Answer(0x15, 0);
        }
        if (arrivals_.size() <= index) {
            arrivals_.resize(index + 1, -1);
        }
        const int arrival = ++arrivals_[index];
        Reaction r = policy ? policy(index, arrival) : Answer(0x06, 0);
        const bool acked = !r.arrivals.empty() && r.arrivals[0].bytes == Bytes{0x06};
        if (acked && index == blocks.size()) {
            blocks.emplace_back(w.begin() + 3, w.begin() + 3 + static_cast<long>(blockSize_));
        }
        if (eotSeen) {
            violations.push_back("block after EOT");
        }
        return r;
    }

    static Reaction Answer(uint8_t byte, int64_t delayMs) { return ReplyBytes({byte}, delayMs); }

    Bytes Received() const {
        Bytes all;
        for (const Bytes& b : blocks) {
            all.insert(all.end(), b.begin(), b.end());
        }
        return all;
    }

    std::vector<Bytes> blocks;
    std::vector<std::string> violations;
    bool eotSeen = false;

  private:
    size_t blockSize_;
    std::vector<int> arrivals_;
};

}  // namespace fwburn::test

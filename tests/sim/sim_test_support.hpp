// Raw-byte helpers for driving the simulator as a host would, without the host's protocol code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/controller.hpp"
#include "sim/sim_link.hpp"

namespace fwburn::sim::test {

using Bytes = std::vector<uint8_t>;

inline const LineSettings kAppLine{9600, 7, kEvenParity, kOneStopBit, 0, 0};
inline const LineSettings kTransferLine{115200, 8, kNoParity, kOneStopBit, 0, 0};
inline const Timeouts kWakeTimeouts{kMaxDword, 0, 200, 0, 200};
inline const Timeouts kCommandTimeouts{kMaxDword, 0, 3000, 0, 3000};

inline Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}
inline std::string ToText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Config MakeConfig(const std::string& model, uint32_t imageLength, Faults faults = {});
// Pseudo-random bytes; no two blocks alike.
Bytes MakeImage(size_t length);
// STX, number, complement, data, CRC high byte first.
Bytes BlockFrame(uint8_t number, const Bytes& data);
// Data field of block `index` (from 1) of the first `sent` image bytes, filled with 0x1A.
Bytes BlockData(const Bytes& image, size_t sent, size_t blockSize, uint32_t index);
// Byte n of an ASCII reply (":" is character 0), or -1 when the reply is too short.
int ReplyByte(const std::string& reply, size_t n);

// A controller on an open link, set up as a host leaves it before a command.
struct Bench {
    explicit Bench(Config config, LinkOptions options = {});
    uint32_t Send(std::string_view text);
    std::string Read(uint32_t length);
    std::string Ask(std::string_view request, uint32_t replyLength);
    // From the bootloader's command state: ID, erase as expected, UPDATE, and the 8N1 line.
    void EnterTransfer();
    // Sends the image's blocks 1..n as a correct host does, expecting ACK for each.
    void SendBlocks(const Bytes& image, uint32_t n);

    Controller controller;
    SimLink link;
};

// What a correct host does for one model, written out by hand per test case.
struct UpdatePlan {
    bool analog = false;
    Reconnect reconnect = Reconnect::kByItself;
    uint32_t eraseSteps = 0;
    uint32_t blockSize = 128;
    uint32_t sentBytes = 0;
};

// One whole update from the application firmware on; "" on success, else the first surprise.
std::string RunUpdate(Bench& bench, const Bytes& image, const UpdatePlan& plan);

}  // namespace fwburn::sim::test

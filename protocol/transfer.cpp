#include "protocol/transfer.hpp"

#include <array>
#include <cstring>

#include "catalogue/catalogue.hpp"
#include "catalogue/job_state.hpp"
#include "protocol/boot_exchange.hpp"
#include "protocol/line_setup.hpp"
#include "protocol/result_codes.hpp"

namespace fwburn {

namespace {

constexpr uint32_t kMaxBlock = 256;
constexpr uint8_t kFill = 0x1A;

constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1;
        }
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

const uint8_t kEndOfTransfer[] = {kEot};

}  // namespace

void OpenImage(const uint8_t* data, uint32_t length) {
    jobImage = JobImage{data, data != nullptr ? length : 0};
    fin = data;
    fileLength = jobImage.length;
}

uint32_t FileRead(uint8_t* buffer, uint32_t count) {
    const uint8_t* end = jobImage.data + jobImage.length;
    if (jobImage.data == nullptr || fin < jobImage.data || fin > end) {
        return 0;
    }
    const auto left = static_cast<uint32_t>(end - fin);
    const uint32_t n = count < left ? count : left;
    if (n != 0) {
        std::memcpy(buffer, fin, n);
        fin += n;
    }
    return n;
}

uint32_t CRC(const uint8_t* data, uint32_t length) {
    uint32_t crc = 0;
    for (uint32_t i = 0; i < length; ++i) {
        crc = ((crc << 8) & 0xFFFF) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFF];
    }
    return crc;
}

void CloseFile() {
    jobImage = JobImage{};
}

uint8_t SendFW(Device& device) {
    device.SetTimeouts(kCommandTimeouts);
    const TransferGeometry g = TransferGeometryFor(selectedPLCIdx, jobImage.length);
    const uint32_t blockSize = g.blockSize <= kMaxBlock ? g.blockSize : kMaxBlock;
    flashStatus = 2;
    progress = 0;

    // One fixed frame, built once per block and resent unchanged.
    uint8_t frame[kMaxBlock + 5];
    uint8_t* const data = frame + 3;
    uint8_t blockNumber = 1;
    uint32_t acknowledged = 0;
    for (uint32_t i = 0; i < g.blockCount; ++i) {
        frame[0] = kStx;
        frame[1] = blockNumber;
        frame[2] = static_cast<uint8_t>(255 - blockNumber);
        uint32_t take = blockSize;
        if (i == g.blockCount - 1 && g.bytesSent % blockSize != 0) {
            take = g.bytesSent % blockSize;
        }
        if (FileRead(data, take) != take) {
            return kBootFailure;
        }
        std::memset(data + take, kFill, blockSize - take);
        const uint32_t crc = CRC(data, blockSize);
        data[blockSize] = static_cast<uint8_t>(crc >> 8);
        data[blockSize + 1] = static_cast<uint8_t>(crc);

        errCounter = 0;
        if (!RunAckExchange(device, frame, blockSize + 5)) {
            return kBootFailure;  // no EOT after a block the controller did not take
        }
        ++blockNumber;
        ++acknowledged;
        progress = static_cast<int32_t>(acknowledged * 100 / (g.blockCount + 1));
    }
    errCounter = 0;
    if (!RunAckExchange(device, kEndOfTransfer, sizeof kEndOfTransfer)) {
        return kBootFailure;
    }
    progress = 100;
    errCounter = 0;
    return 0;
}

}  // namespace fwburn

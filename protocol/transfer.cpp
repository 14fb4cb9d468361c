#include "protocol/transfer.hpp"

#include <array>
#include <cstring>

#include "catalogue/catalogue.hpp"
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

uint32_t ImageReader::FileRead(uint8_t* buffer, uint32_t count) {
    if (image_.data == nullptr || at_ >= image_.length) {
        return 0;
    }
    const uint32_t left = image_.length - at_;
    const uint32_t n = count < left ? count : left;
    std::memcpy(buffer, image_.data + at_, n);
    at_ += n;
    return n;
}

uint32_t CRC(const uint8_t* data, uint32_t length) {
    uint32_t crc = 0;
    for (uint32_t i = 0; i < length; ++i) {
        crc = ((crc << 8) & 0xFFFF) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFF];
    }
    return crc;
}

uint8_t SendFW(Channel& channel, int row, ImageSpan image) {
    channel.device.SetTimeouts(kCommandTimeouts);
    const TransferGeometry g = TransferGeometryFor(row, image.length);
    const uint32_t blockSize = g.blockSize <= kMaxBlock ? g.blockSize : kMaxBlock;
    Progress& progress = channel.progress;
    progress.BeginPhase(Phase::Programming, g.blockCount);
    ImageReader reader(image);

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
        if (reader.FileRead(data, take) != take) {
            return kBootFailure;
        }
        std::memset(data + take, kFill, blockSize - take);
        const uint32_t crc = CRC(data, blockSize);
        data[blockSize] = static_cast<uint8_t>(crc >> 8);
        data[blockSize + 1] = static_cast<uint8_t>(crc);

        progress.ClearErrCounter();
        if (!RunAckExchange(channel, frame, blockSize + 5)) {
            return kBootFailure;  // no EOT after a block the controller did not take
        }
        ++blockNumber;
        ++acknowledged;
        // The EOT counts as one step more: the percentage reaches 100 only when it is taken.
        progress.Advance(acknowledged,
                         static_cast<int32_t>(acknowledged * 100 / (g.blockCount + 1)));
    }
    progress.ClearErrCounter();
    if (!RunAckExchange(channel, kEndOfTransfer, sizeof kEndOfTransfer)) {
        return kBootFailure;
    }
    progress.ClearErrCounter();
    progress.Advance(acknowledged, 100);
    return 0;
}

}  // namespace fwburn

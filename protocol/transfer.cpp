#include "protocol/transfer.hpp"

#include <array>
#include <cstring>

#include "catalogue/catalogue.hpp"
#include "protocol/boot_exchange.hpp"
#include "protocol/line_setup.hpp"
#include "protocol/result_codes.hpp"
#include "protocol/retry.hpp"

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

// The last block's guard. The controller's own USB port has no line: a block crosses in a few
// 1 ms frames, and a controller refuses a damaged block as soon as its CRC is checked. On a line,
// the block's wire time comes first, then the same turn-around.
constexpr uint32_t kUsbLinkGuardMs = 30;
constexpr uint32_t kReplyTurnaroundMs = 10;
constexpr uint32_t kLongestGuardMs = 100;

// One frame under the boot-mode retry rule until an ACK is taken; what each discard drops is
// counted. With `guardMs`, an ACK stands only when no second byte follows within that time.
// Once a boot-mode read on the channel has come back short (replyOutstanding), that reply may
// still be on its way, and the guard lasts a whole read time-out.
bool SendUntilAcknowledged(Channel& channel, const uint8_t* frame, uint32_t length,
                           uint32_t guardMs) {
    Device& device = channel.device;
    Progress& progress = channel.progress;
    RetryBudget budget(progress);
    while (budget.AttemptsLeft()) {
        uint32_t dropped = 0;
        const bool written = WriteRequest(device, frame, length, &dropped);
        progress.Surplus(dropped);
        if (!written) {
            budget.WriteFailed();
            continue;
        }
        budget.BeforeRead();
        uint8_t reply = 0;
        const uint32_t got = device.Read(&reply, 1);
        if (got != 1 || reply != kAck) {
            channel.replyOutstanding = channel.replyOutstanding || got == 0;
            budget.BadReply();
            continue;
        }
        if (guardMs != 0) {
            // The ACK carries no block number: a byte more means two replies came for one send,
            // and the ACK may be a stale one standing in for the NAK of a damaged block. The
            // block goes again, as after a lost ACK: a controller that did take it knows the
            // repeat by its number, acknowledges it and writes it once; one that refused it takes
            // it now. Ending FAILED instead would throw away a whole update for one stray byte;
            // a line that keeps doubling replies still runs out of this block's budget.
            // A request whose read timed out may be answered late, after its resend was taken and
            // after the blocks that followed: that ACK must not stand in for the EOT's.
            const uint32_t waitMs =
                channel.replyOutstanding && guardMs < kCommandTimeouts.readTotalConstant
                    ? kCommandTimeouts.readTotalConstant
                    : guardMs;
            device.SetTimeouts(
                Timeouts{kMaxDword, 0, waitMs, 0, kCommandTimeouts.writeTotalConstant});
            uint8_t second = 0;
            const bool doubled = device.Read(&second, 1) == 1;
            device.SetTimeouts(kCommandTimeouts);
            if (doubled) {
                progress.Surplus(1);
                budget.BadReply();
                continue;
            }
        }
        progress.ClearErrCounter();
        return true;
    }
    return false;
}

}  // namespace

uint32_t LastBlockGuardMs(int row, uint32_t frameLength, uint32_t readLatencyMs) {
    if (IsUsbLinked(row)) {
        return kUsbLinkGuardMs;
    }
    // Start, data and stop bits of the transfer line, rounded up to whole milliseconds.
    const uint32_t bitsPerByte = 1 + kTransferLine.byteSize + 1;
    const uint32_t wireMs =
        (frameLength * bitsPerByte * 1000 + kTransferLine.baudRate - 1) / kTransferLine.baudRate;
    const uint32_t latency = readLatencyMs < kLongestGuardMs ? readLatencyMs : kLongestGuardMs;
    const uint32_t guard = wireMs + kReplyTurnaroundMs + latency;
    return guard < kLongestGuardMs ? guard : kLongestGuardMs;
}

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
    progress.figures().surplusBytes = 0;
    ImageReader reader(image);
    // Only after the last block: a stale ACK in the middle is followed by a block the controller
    // refuses as out of order, which ends in a failure, never a success.
    const uint32_t guardMs = LastBlockGuardMs(row, blockSize + 5, channel.device.ReadLatencyMs());

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
        const bool last = i == g.blockCount - 1;
        if (!SendUntilAcknowledged(channel, frame, blockSize + 5, last ? guardMs : 0)) {
            return kBootFailure;  // no EOT after a block the controller did not take
        }
        ++blockNumber;
        ++acknowledged;
        // The EOT counts as one step more: the percentage reaches 100 only when it is taken.
        progress.Advance(acknowledged,
                         static_cast<int32_t>(acknowledged * 100 / (g.blockCount + 1)));
    }
    progress.ClearErrCounter();
    if (!SendUntilAcknowledged(channel, kEndOfTransfer, sizeof kEndOfTransfer, 0)) {
        return kBootFailure;
    }
    progress.ClearErrCounter();
    progress.Advance(acknowledged, 100);
    return 0;
}

}  // namespace fwburn

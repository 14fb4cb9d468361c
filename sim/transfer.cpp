// The bootloader taking the image in numbered blocks.
#include <cstdio>

#include "sim/ascii.hpp"
#include "sim/controller.hpp"
#include "sim/crc.hpp"

namespace fwburn::sim {

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kFill = 0x1A;

}  // namespace

void Controller::FeedTransfer(uint8_t b) {
    if (unit_ == Unit::kBlock) {
        buf_.push_back(b);
        if (buf_.size() == FrameLength()) {
            DispatchBlock();
        }
        return;
    }
    if (b == ':') {
        // A new job's handshake: the bootloader gives up the transfer and listens for commands.
        state_ = State::kBootloader;
        NewSession();
        StartUnit(Unit::kAscii, b);
    } else if (b == kEotByte) {
        FlushJunk();
        unitLine_ = chunkLine_;
        EndTransfer();
    } else if (b == kStx && state_ == State::kTransfer) {
        StartUnit(Unit::kBlock, b);
    } else {
        Junk(b, state_ == State::kTransfer ? "while waiting for a block" : "after the transfer");
    }
}

void Controller::DispatchBlock() {
    unit_ = Unit::kNone;
    blockEnded_ = true;
    const uint8_t number = buf_[1];
    const size_t size = model_->blockSize;
    const std::vector<uint8_t> data(buf_.begin() + 3, buf_.begin() + 3 + static_cast<long>(size));
    const auto crc = static_cast<uint16_t>(buf_[3 + size] << 8 | buf_[4 + size]);
    const std::string name = "block number " + std::to_string(number);
    CheckLine(name);
    char text[128];
    if (buf_[2] != static_cast<uint8_t>(255 - number)) {
        std::snprintf(text, sizeof text, "%s: complement byte 0x%02X, expected 0x%02X",
                      name.c_str(), buf_[2], 255 - number);
        Violation(text);
        Emit({kNakByte}, config_.timing.replyMs);
        return;
    }
    const uint16_t want = Crc16Xmodem(data.data(), data.size());
    if (crc != want) {
        std::snprintf(text, sizeof text, "%s: CRC 0x%04X, expected 0x%04X", name.c_str(), crc,
                      want);
        Violation(text);
        Emit({kNakByte}, config_.timing.replyMs);
        return;
    }
    const Reply ack{{kAckByte}, false, 0, config_.timing.blockWriteMs};
    if (blocksTaken_ > 0 && number == static_cast<uint8_t>(nextNumber_ - 1)) {
        // A resend of the block taken last: acknowledged again, written once.
        if (data != lastBlock_) {
            Violation(name + ": resent with other data");
        }
        Answer(Phase::kBlock, ack, blocksTaken_);
        return;
    }
    if (number != nextNumber_) {
        Violation(name + ", expected " + std::to_string(nextNumber_));
        Emit({kNakByte}, config_.timing.replyMs);
        return;
    }
    const uint32_t ordinal = blocksTaken_ + 1;
    if (Answer(Phase::kBlock, ack, ordinal)) {
        TakeBlock(number, data, ordinal);
    }
}

void Controller::TakeBlock(uint8_t number, const std::vector<uint8_t>& data, uint32_t ordinal) {
    flash_.insert(flash_.end(), data.begin(), data.end());
    lastBlock_ = data;
    nextNumber_ = static_cast<uint8_t>(number + 1);
    blocksTaken_ = ordinal;
    if (ordinal > expected_.blocks) {
        Violation("block " + std::to_string(ordinal) + " is beyond the image (" +
                  std::to_string(expected_.blocks) + " blocks expected)");
    } else if (ordinal == expected_.blocks) {
        CheckFill(data);
    }
    if (ordinal == config_.faults.linkLossAfterBlock) {
        LoseLink();
    }
}

// The last block carries what is left of the image, then 0x1A up to the block size.
void Controller::CheckFill(const std::vector<uint8_t>& data) {
    const size_t used = expected_.sentBytes % data.size();
    if (used == 0) {
        return;
    }
    size_t bad = 0;
    size_t first = 0;
    for (size_t i = used; i < data.size(); ++i) {
        if (data[i] != kFill) {
            first = bad == 0 ? i : first;
            ++bad;
        }
    }
    if (bad > 0) {
        char text[128];
        std::snprintf(
            text, sizeof text,
            "last block: %zu of %zu fill bytes are not 0x1A (first at offset %zu: 0x%02X)", bad,
            data.size() - used, first, data[first]);
        Violation(text);
    }
}

void Controller::EndTransfer() {
    CheckLine("EOT");
    if (state_ == State::kTransferDone) {
        // A repeat after a lost ACK.
        Answer(Phase::kTransferEnd, {{kAckByte}});
        return;
    }
    if (blocksTaken_ < expected_.blocks) {
        Violation("EOT after " + std::to_string(blocksTaken_) + " of " +
                  std::to_string(expected_.blocks) + " blocks");
    }
    if (!Answer(Phase::kTransferEnd, {{kAckByte}})) {
        return;
    }
    state_ = State::kTransferDone;
    transferComplete_ = blocksTaken_ == expected_.blocks;
    flashIncomplete_ = !transferComplete_;
}

}  // namespace fwburn::sim

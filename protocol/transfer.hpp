// The image transfer: numbered blocks with CRC-16/XMODEM, each acknowledged, closed by EOT.
#pragma once

#include <cstdint>

#include "protocol/channel.hpp"

namespace fwburn {

// The image an update sends: pointer and length, captured once when the update starts.
struct ImageSpan {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
};

// Reads an image from its start; never reads past its end.
class ImageReader {
  public:
    explicit ImageReader(ImageSpan image) : image_(image) {}
    // Copies up to `count` bytes from the read position and advances it; returns the count
    // copied.
    uint32_t FileRead(uint8_t* buffer, uint32_t count);

  private:
    ImageSpan image_;
    uint32_t at_ = 0;
};

// CRC-16/XMODEM (polynomial 0x1021, initial 0, no reflection), in the low 16 bits.
uint32_t CRC(const uint8_t* data, uint32_t length);

// How long SendFW listens after the last block's ACK for a second reply: on a serial-linked
// model the frame's wire time at the transfer rate, the controller's turn-around and the link's
// read latency; a fixed time on the controller's own USB port. Never more than 100 ms.
uint32_t LastBlockGuardMs(int row, uint32_t frameLength, uint32_t readLatencyMs);

// Sends `image` in blocks (geometry by `row`'s model and the image length), then EOT. Begins the
// programming phase and advances it block by block. The last block's ACK stands only when no
// second reply follows it within LastBlockGuardMs (a whole read time-out once a boot-mode read on
// the channel came back short: that reply may still come); otherwise the block is sent again
// under its retry budget. Bytes beyond the replies are counted in the figures' surplusBytes. 0 on
// success; kBootFailure when a block or the EOT ran out of its retry budget, or the image ran out
// before the geometry did.
uint8_t SendFW(Channel& channel, int row, ImageSpan image);

}  // namespace fwburn

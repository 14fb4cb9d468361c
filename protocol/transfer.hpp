// The image transfer: numbered blocks with CRC-16/XMODEM, each acknowledged, closed by EOT.
#pragma once

#include <cstdint>

#include "link/device.hpp"

namespace fwburn {

// Starts a job's image: captures pointer and length once (jobImage), sets fin to the first byte
// and fileLength to the length.
void OpenImage(const uint8_t* data, uint32_t length);

// Copies up to `count` bytes from fin and advances it; never reads past the captured image.
// Returns the count copied.
uint32_t FileRead(uint8_t* buffer, uint32_t count);

// CRC-16/XMODEM (polynomial 0x1021, initial 0, no reflection), in the low 16 bits.
uint32_t CRC(const uint8_t* data, uint32_t length);

// Ends the job's hold on its image: nothing more can be read until the next OpenImage.
void CloseFile();

// Sends the captured image in blocks (geometry by model and image length), then EOT.
// 0 on success; kBootFailure when a block or the EOT ran out of its retry budget, or the image
// ran out before the geometry did. Leaves flashStatus at 2.
uint8_t SendFW(Device& device);

}  // namespace fwburn

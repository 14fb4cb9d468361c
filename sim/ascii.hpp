// Application-mode framing as the controller sees it: ":" hex pairs, LRC, CR LF.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fwburn::sim {

// The line's control bytes, as the bootloader and the application's replies use them.
constexpr uint8_t kEotByte = 0x04;
constexpr uint8_t kAckByte = 0x06;
constexpr uint8_t kNakByte = 0x15;

// Two's complement of the byte sum, so that message plus LRC sums to 0 modulo 256.
uint8_t Lrc(const std::vector<uint8_t>& message);

// How a reply is written; the defaults give a correct frame, the rest serve fault injection.
struct FrameStyle {
    bool lowerCase = false;
    uint8_t lrcOffset = 0;  // added to the LRC
};

// ":" + hex of message and LRC + CR LF, as bytes ready for the line.
std::vector<uint8_t> EncodeFrame(const std::vector<uint8_t>& message, FrameStyle style = {});

enum class FrameError { kNone, kNoCrLf, kTooShort, kOddLength, kNotHex, kLowerCase, kBadLrc };
const char* FrameErrorText(FrameError error);

struct DecodedFrame {
    FrameError error = FrameError::kNone;
    std::vector<uint8_t> message;  // without the LRC; valid only without error
};

// `text` is a whole received frame, from ":" up to and including LF.
DecodedFrame DecodeFrame(std::string_view text);

// Text with control characters shown as escapes, for violation reports.
std::string Printable(std::string_view text);

}  // namespace fwburn::sim

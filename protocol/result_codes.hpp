// Result codes of the application-mode commands. Failures are 0x10 + k; the burn worker picks its
// message by k, the low four bits.
#pragma once

#include <cstdint>

namespace fwburn {

constexpr uint8_t kApplicationMode = 5;
constexpr uint8_t kBootMode = 6;

constexpr uint8_t kFlowErrorState1 = 0x11;
constexpr uint8_t kFlowErrorState2 = 0x12;
constexpr uint8_t kFlowErrorState3 = 0x13;
constexpr uint8_t kFlowErrorState4 = 0x14;
constexpr uint8_t kFlowErrorOtherState = 0x15;
constexpr uint8_t kRunMode = 0x16;
constexpr uint8_t kUnknownErrorClass = 0x17;
constexpr uint8_t kNoAcceptableReply = 0x18;

// Boot-mode commands and the image transfer know one failure: the retry budget ran out.
constexpr uint8_t kBootFailure = 0x10;

}  // namespace fwburn

#include "protocol/handshake.hpp"

#include "catalogue/catalogue.hpp"
#include "protocol/app_exchange.hpp"
#include "protocol/line_setup.hpp"
#include "protocol/result_codes.hpp"

namespace fwburn {

namespace {

constexpr int kWakeFrames = 5;
constexpr int kTrailingWakeReads = 5;

const ErrorReplyRow kModeQueryErrors[] = {
    {1, -1, kRunMode},
    {2, 1, kFlowErrorState1},
    {2, 2, kFlowErrorState2},
    {2, -1, kFlowErrorOtherState},
    {-1, -1, kUnknownErrorClass},
};

}  // namespace

void DummyComm(Channel& channel, int row) {
    Device& device = channel.device;
    ApplyLineSetup(device, row, kWakeTimeouts);
    uint8_t discard[kWakeReplyLength];
    const auto* wake = reinterpret_cast<const uint8_t*>(kWakeRequest.text);
    for (int i = 0; i < kWakeFrames; ++i) {
        WriteRequest(device, wake, kWakeRequest.length);
        device.Read(discard, kWakeReplyLength);
    }
    for (int i = 0; i < kTrailingWakeReads; ++i) {
        device.Read(discard, kWakeReplyLength);
    }
}

uint8_t ConfirmComm(Channel& channel, int row) {
    ApplyLineSetup(channel.device, row, kCommandTimeouts);
    uint8_t reply[kLongReplyLength];
    const AppRequest& request = ModeQueryRequest(TargetByte(row));
    const bool accepted =
        RunTwoCounterRule(channel, request, reply, kLongReplyLength, [](const uint8_t* r) {
            const uint8_t mode = ReplyByte(r, 4);
            return mode == kApplicationMode || mode == kBootMode;
        });
    if (accepted) {
        channel.progress.ClearErrCounter();
        return ReplyByte(reply, 4);
    }
    return FinalResultDecision(reply, kModeQueryErrors);
}

}  // namespace fwburn

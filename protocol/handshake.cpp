#include "protocol/handshake.hpp"

#include "catalogue/catalogue.hpp"
#include "catalogue/job_state.hpp"
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

void DummyComm(Device& device) {
    ApplyLineSetup(device, kWakeTimeouts);
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

uint8_t ConfirmComm(Device& device) {
    ApplyLineSetup(device, kCommandTimeouts);
    uint8_t reply[kLongReplyLength];
    const AppRequest& request = ModeQueryRequest(TargetByte(selectedPLCIdx));
    const bool accepted =
        RunTwoCounterRule(device, request, reply, kLongReplyLength, [](const uint8_t* r) {
            const uint8_t mode = ReplyByte(r, 4);
            return mode == kApplicationMode || mode == kBootMode;
        });
    if (accepted) {
        errCounter = 0;
        return ReplyByte(reply, 4);
    }
    return FinalResultDecision(reply, kModeQueryErrors);
}

}  // namespace fwburn

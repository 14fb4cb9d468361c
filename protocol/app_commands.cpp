#include "protocol/app_commands.hpp"

#include "catalogue/catalogue.hpp"
#include "protocol/app_exchange.hpp"
#include "protocol/line_setup.hpp"
#include "protocol/result_codes.hpp"

namespace fwburn {

namespace {

const ErrorReplyRow kModelIdErrors[] = {
    {2, 2, kFlowErrorState2},
    {2, 3, kFlowErrorState3},
    {2, -1, kFlowErrorOtherState},
    {-1, -1, kUnknownErrorClass},
};

const ErrorReplyRow kUpdateRequestErrors[] = {
    {2, 3, kFlowErrorState3},
    {2, 4, kFlowErrorState4},
    {2, -1, kFlowErrorOtherState},
    {-1, -1, kUnknownErrorClass},
};

uint16_t ReadRegister(Channel& channel, const AppRequest& request, bool& answered) {
    channel.device.SetTimeouts(kCommandTimeouts);
    uint8_t reply[kShortReplyLength];
    // Address, function and byte count of the answer are not checked: only the LRC.
    answered = RunTwoCounterRule(channel, request, reply, kShortReplyLength,
                                 [](const uint8_t*) { return true; });
    if (answered) {
        return static_cast<uint16_t>(ReplyByte(reply, 3) << 8 | ReplyByte(reply, 4));
    }
    return 0;
}

}  // namespace

uint8_t CheckID_A(Channel& channel, int row) {
    uint16_t id = 0;
    bool received = false;
    return CheckID_A(channel, row, id, received);
}

uint8_t CheckID_A(Channel& channel, int row, uint16_t& id, bool& received) {
    channel.device.SetTimeouts(kCommandTimeouts);
    uint8_t reply[kLongReplyLength];
    received = false;
    const bool accepted = RunTwoCounterRule(
        channel, ModelIdRequest(TargetByte(row)), reply, kLongReplyLength, [&](const uint8_t* r) {
            if (ReplyByte(r, 4) != kAsciiAck) {
                return false;
            }
            id = static_cast<uint16_t>(ReplyByte(r, 5) << 8 | ReplyByte(r, 6));
            received = true;
            return AppIdAccepted(row, id);
        });
    return accepted ? 0 : FinalResultDecision(reply, kModelIdErrors);
}

uint8_t ReadModelId_A(Channel& channel, int row, uint16_t& id) {
    channel.device.SetTimeouts(kCommandTimeouts);
    uint8_t reply[kLongReplyLength];
    const bool accepted =
        RunTwoCounterRule(channel, ModelIdRequest(TargetByte(row)), reply, kLongReplyLength,
                          [](const uint8_t* r) { return ReplyByte(r, 4) == kAsciiAck; });
    if (!accepted) {
        return FinalResultDecision(reply, kModelIdErrors);
    }
    id = static_cast<uint16_t>(ReplyByte(reply, 5) << 8 | ReplyByte(reply, 6));
    return 0;
}

uint16_t READ_D1386(Channel& channel) {
    bool answered = false;
    return ReadRegister(channel, kReadD1386Request, answered);
}

uint16_t READ_D1386(Channel& channel, bool& answered) {
    return ReadRegister(channel, kReadD1386Request, answered);
}

uint16_t READ_D1148(Channel& channel) {
    bool answered = false;
    return ReadRegister(channel, kReadD1148Request, answered);
}

uint16_t READ_D1148(Channel& channel, bool& answered) {
    return ReadRegister(channel, kReadD1148Request, answered);
}

uint8_t read_fu_version_A(Channel& channel) {
    bool answered = false;
    return read_fu_version_A(channel, answered);
}

uint8_t read_fu_version_A(Channel& channel, bool& answered) {
    channel.device.SetTimeouts(kCommandTimeouts);
    uint8_t reply[kLongReplyLength];
    answered = RunTwoCounterRule(channel, kVersionRequest, reply, kLongReplyLength,
                                 [](const uint8_t*) { return true; });
    return answered ? ReplyByte(reply, 4) : 0;
}

uint8_t SendErase_A(Channel& channel, int row) {
    Device& device = channel.device;
    device.SetTimeouts(kCommandTimeouts);
    const uint8_t target = TargetByte(row);
    const AppRequest& request = UpdateRequest(target);
    const AppRequest& acknowledgement = UpdateAckRequest(target);
    uint8_t reply[kLongReplyLength] = {};
    RetryBudget budget(channel.progress);
    while (budget.AttemptsLeft()) {
        if (!WriteRequest(device, request)) {
            budget.WriteFailed();
            continue;
        }
        budget.BeforeRead();
        if (ReadReply(device, reply, kLongReplyLength) != kLongReplyLength) {
            // The power-cycle models restart into their bootloader without answering.
            if (AcceptsSilentUpdateRequest(row)) {
                channel.progress.ClearErrCounter();
                return 0;
            }
            budget.BadReply();
            continue;
        }
        if (ReplyPassesLrc(reply, kLongReplyLength) && ReplyByte(reply, 4) == kAsciiAck) {
            channel.progress.ClearErrCounter();
            if (WriteRequest(device, acknowledgement)) {
                return 0;
            }
            // The controller waits for the acknowledgement: ask again from the request on.
            budget.WriteFailed();
            continue;
        }
        budget.BadReply();
    }
    return FinalResultDecision(reply, kUpdateRequestErrors);
}

}  // namespace fwburn

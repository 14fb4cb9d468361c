#include "protocol/boot_commands.hpp"

#include "protocol/boot_exchange.hpp"
#include "protocol/line_setup.hpp"
#include "protocol/result_codes.hpp"

namespace fwburn {

namespace {

const uint8_t kEndOfErase[] = {kEot};

}  // namespace

bool RunAckExchange(Channel& channel, const uint8_t* request, uint32_t requestLength) {
    uint8_t reply[1];
    return RunBootExchange(channel, request, requestLength, reply, 1,
                           [](const uint8_t* r) { return r[0] == kAck; });
}

uint8_t CheckID_B(Channel& channel, BootIdRule rule, int row) {
    uint16_t id = 0;
    bool received = false;
    return CheckID_B(channel, rule, row, id, received);
}

uint8_t CheckID_B(Channel& channel, BootIdRule rule, int row, uint16_t& id, bool& received) {
    channel.device.SetTimeouts(kCommandTimeouts);
    uint8_t reply[3];
    received = false;
    const bool accepted = RunBootExchange(channel, kIdWord.bytes, kIdWord.length, reply,
                                          sizeof reply, [&](const uint8_t* r) {
                                              if (r[0] != kAck) {
                                                  return false;
                                              }
                                              id = static_cast<uint16_t>(r[1] << 8 | r[2]);
                                              received = true;
                                              return BootIdAccepted(rule, row, id);
                                          });
    return accepted ? 0 : kBootFailure;
}

uint8_t read_fu_version_B(Channel& channel, uint8_t& version) {
    channel.device.SetTimeouts(kCommandTimeouts);
    uint8_t reply[3];
    if (!RunBootExchange(channel, kVersionWord.bytes, kVersionWord.length, reply, sizeof reply,
                         [](const uint8_t* r) { return r[0] == kAck; })) {
        return kBootFailure;
    }
    // Major number in the high nibble, minor (the high four bits of byte 2) in the low one.
    version = static_cast<uint8_t>(reply[1] * 16 + reply[2] / 16);
    return 0;
}

uint8_t SendErase_B(Channel& channel, int row, uint32_t imageLength) {
    channel.device.SetTimeouts(kCommandTimeouts);
    const uint16_t steps = EraseCount(row, imageLength);
    channel.progress.BeginPhase(Phase::Erasing, steps);
    for (uint32_t k = 0; k < steps; ++k) {
        if (!RunAckExchange(channel, kEraseWord.bytes, kEraseWord.length)) {
            return kBootFailure;
        }
        // The panel's percentage counts the steps before this one, as it always has.
        channel.progress.Advance(k + 1, static_cast<int32_t>(k * 100 / steps));
    }
    if (!RunAckExchange(channel, kEndOfErase, sizeof kEndOfErase)) {
        return kBootFailure;
    }
    channel.progress.ClearErrCounter();
    channel.progress.Advance(steps, 100);
    return 0;
}

uint8_t SendUpdate(Channel& channel) {
    channel.device.SetTimeouts(kCommandTimeouts);
    if (!RunAckExchange(channel, kUpdateWord.bytes, kUpdateWord.length)) {
        return kBootFailure;
    }
    ChangeLineSettings(channel.device, kTransferLine);
    channel.progress.ClearErrCounter();
    return 0;
}

}  // namespace fwburn

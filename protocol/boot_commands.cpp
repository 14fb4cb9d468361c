#include "protocol/boot_commands.hpp"

#include "catalogue/catalogue.hpp"
#include "catalogue/job_state.hpp"
#include "catalogue/profile.hpp"
#include "protocol/boot_exchange.hpp"
#include "protocol/line_setup.hpp"
#include "protocol/result_codes.hpp"

namespace fwburn {

namespace {

const uint8_t kEndOfErase[] = {kEot};

}  // namespace

bool RunAckExchange(Device& device, const uint8_t* request, uint32_t requestLength) {
    uint8_t reply[1];
    return RunBootExchange(device, request, requestLength, reply, 1,
                           [](const uint8_t* r) { return r[0] == kAck; });
}

uint8_t CheckID_B(Device& device) {
    device.SetTimeouts(kCommandTimeouts);
    const int row = selectedPLCIdx;
    const uint16_t selectedId = selectedPLCID;
    const BootIdRule rule = ThisBuildProfile().bootIdRule;
    uint8_t reply[3];
    const bool accepted = RunBootExchange(
        device, kIdWord.bytes, kIdWord.length, reply, sizeof reply, [&](const uint8_t* r) {
            const auto id = static_cast<uint16_t>(r[1] << 8 | r[2]);
            return r[0] == kAck && BootIdAccepted(rule, row, selectedId, id);
        });
    return accepted ? 0 : kBootFailure;
}

uint8_t read_fu_version_B() {
    Device& device = *hSerial;
    device.SetTimeouts(kCommandTimeouts);
    uint8_t reply[3];
    if (!RunBootExchange(device, kVersionWord.bytes, kVersionWord.length, reply, sizeof reply,
                         [](const uint8_t* r) { return r[0] == kAck; })) {
        return kBootFailure;
    }
    // Major number in the high nibble, minor (the high four bits of byte 2) in the low one.
    ZL_fu_version = static_cast<uint8_t>(reply[1] * 16 + reply[2] / 16);
    return 0;
}

uint8_t SendErase_B(Device& device) {
    device.SetTimeouts(kCommandTimeouts);
    const uint16_t steps = EraseCount(selectedPLCIdx, jobImage.length);
    flashStatus = 1;
    progress = 0;
    for (uint32_t k = 0; k < steps; ++k) {
        if (!RunAckExchange(device, kEraseWord.bytes, kEraseWord.length)) {
            return kBootFailure;
        }
        progress = static_cast<int32_t>(k * 100 / steps);
    }
    if (!RunAckExchange(device, kEndOfErase, sizeof kEndOfErase)) {
        return kBootFailure;
    }
    errCounter = 0;
    progress = 100;
    return 0;
}

uint8_t SendUpdate(Device& device) {
    device.SetTimeouts(kCommandTimeouts);
    if (!RunAckExchange(device, kUpdateWord.bytes, kUpdateWord.length)) {
        return kBootFailure;
    }
    ChangeLineSettings(device, kTransferLine);
    errCounter = 0;
    return 0;
}

}  // namespace fwburn

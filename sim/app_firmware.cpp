// The application firmware: ASCII requests up to the accepted update request.
#include <cstdio>
#include <string>

#include "sim/ascii.hpp"
#include "sim/controller.hpp"

namespace fwburn::sim {

namespace {

constexpr uint8_t kApplicationMode = 5;
constexpr uint8_t kBootMode = 6;

uint8_t Hi(uint16_t v) {
    return static_cast<uint8_t>(v >> 8);
}
uint8_t Lo(uint16_t v) {
    return static_cast<uint8_t>(v & 0xFF);
}

}  // namespace

void Controller::FeedApplication(uint8_t b) {
    if (unit_ == Unit::kAscii) {
        FeedAscii(b);
    } else if (b == ':') {
        StartUnit(Unit::kAscii, b);
    } else {
        Junk(b, "outside a frame");
    }
}

// Both firmwares frame their ASCII requests the same way; the bootloader answers only some.
void Controller::DispatchAscii() {
    const std::string text(buf_.begin(), buf_.end());
    unit_ = Unit::kNone;
    const DecodedFrame frame = DecodeFrame(text);
    if (frame.error != FrameError::kNone) {
        Violation("request \"" + Printable(text) + "\": " + FrameErrorText(frame.error));
        return;
    }
    const Identified id = Identify(frame.message);
    if (id.request == Request::kUnknown) {
        Violation("unknown request \"" + Printable(text) + "\"");
        return;
    }
    CheckLine(RequestName(id.request));
    // The version query always goes to the main unit; an analog module takes the rest as 0x5B.
    const uint8_t want = id.request == Request::kVersionQuery ? 0x59 : Target();
    if (id.hasTarget && id.target != want) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%s with target byte 0x%02X, expected 0x%02X: not answered",
                      RequestName(id.request), id.target, want);
        Violation(buf);
        return;
    }
    if (state_ == State::kApplication) {
        HandleApplication(id.request);
    } else {
        HandleBootAscii(id.request);
    }
}

void Controller::HandleApplication(Request request) {
    const Faults& f = config_.faults;
    const uint8_t t = Target();
    switch (request) {
        case Request::kWake:
            Answer(Phase::kWake, {{0x00, 0x7F, 0x00}, true, t});
            return;
        case Request::kModeQuery:
            NewSession();
            modeQueried_ = true;
            Answer(Phase::kModeQuery, {{0x00, 0x64, 0x01, t, kApplicationMode, 0, 0}, true, t});
            return;
        case Request::kIdQuery: {
            if (!modeQueried_) {
                Violation("model-ID query before the mode query");
            }
            const uint16_t id = f.appId.value_or(model_->appId);
            if (Answer(Phase::kIdQuery,
                       {{0x00, 0x64, 0x01, t, kAckByte, Hi(id), Lo(id)}, true, t})) {
                idQueried_ = true;
            }
            return;
        }
        case Request::kReadD1386:
        case Request::kReadD1148: {
            const uint16_t v = request == Request::kReadD1386 ? f.d1386.value_or(model_->d1386)
                                                              : f.d1148.value_or(model_->d1148);
            Answer(Phase::kRegisterRead, {{0x00, 0x03, 0x02, Hi(v), Lo(v)}, true, t});
            return;
        }
        case Request::kVersionQuery: {
            const BootloaderVersion v = f.version.value_or(model_->version);
            const auto packed = static_cast<uint8_t>(v.major * 16 + v.minor);
            Answer(Phase::kVersionQuery, {{0x00, 0x64, 0x01, 0x59, packed, 0, 0}, true, 0x59});
            return;
        }
        case Request::kUpdateRequest:
            if (!idQueried_) {
                Violation("update request before the model-ID query");
            }
            if (model_->reconnect == Reconnect::kPowerCycle) {
                // These models go quiet at once and wait to be switched off and on.
                if (Answer(Phase::kUpdateRequest, {{}, true, t})) {
                    state_ = State::kAwaitingPowerCycle;
                }
            } else if (Answer(Phase::kUpdateRequest,
                              {{0x00, 0x64, 0x01, t, kAckByte, 0, 0}, true, t})) {
                updateReplied_ = true;
            }
            return;
        case Request::kUpdateAck:
            if (!updateReplied_) {
                Violation("update acknowledgement without an accepted update request");
                return;
            }
            AcceptUpdate();
            return;
        case Request::kUnknown:
            return;
    }
}

void Controller::AcceptUpdate() {
    updateReplied_ = false;
    switch (model_->reconnect) {
        case Reconnect::kByItself:
            state_ = State::kRestarting;
            bootDueMs_ = now_ + config_.timing.bootEntryMs;
            return;
        case Reconnect::kReplug:
            state_ = State::kAwaitingReplug;
            return;
        case Reconnect::kPowerCycle:
            state_ = State::kAwaitingPowerCycle;
            return;
    }
}

void Controller::HandleBootAscii(Request request) {
    const uint8_t t = Target();
    switch (request) {
        case Request::kWake:
            Answer(Phase::kWake, {{0x00, 0x7F, 0x00}, true, t});
            return;
        case Request::kModeQuery:
            // Every job starts with the handshake: whatever was under way is abandoned.
            state_ = State::kBootloader;
            NewSession();
            Answer(Phase::kBootModeQuery, {{0x00, 0x64, 0x01, t, kBootMode, 0, 0}, true, t});
            return;
        default:
            Violation(std::string(RequestName(request)) + " sent to the bootloader");
            return;
    }
}

}  // namespace fwburn::sim

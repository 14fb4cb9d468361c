// Answering a request, shaped by the configured faults.
#include <utility>

#include "sim/ascii.hpp"
#include "sim/controller.hpp"

namespace fwburn::sim {

namespace {

constexpr uint8_t kGarbageByte = '~';

// The state number an application command reports in an error reply.
int CommandState(Phase phase) {
    switch (phase) {
        case Phase::kModeQuery:
            return 1;
        case Phase::kIdQuery:
            return 2;
        case Phase::kUpdateRequest:
            return 3;
        default:
            return 0;
    }
}

std::vector<uint8_t> ErrorReply(uint8_t target, uint8_t errorClass, uint8_t state) {
    return EncodeFrame({0x00, 0x64, 0x01, target, kNakByte, errorClass, state});
}

}  // namespace

// Returns whether the controller takes the request (acts on it); false when a fault means it
// did not.
bool Controller::Answer(Phase phase, const Reply& reply, uint32_t ordinal) {
    const uint32_t seen = ++requests_[static_cast<size_t>(phase)];
    if (ordinal == 0) {
        ordinal = seen;
    }
    if (config_.faults.silent) {
        return false;
    }
    const int64_t delay = config_.timing.replyMs + reply.workMs;
    const int runState = CommandState(phase);
    if (config_.faults.runMode && state_ == State::kApplication && runState != 0) {
        Emit(ErrorReply(reply.target, 1, static_cast<uint8_t>(runState)), delay);
        return false;
    }
    // An empty message stays empty: the power-cycle models answer no update request.
    std::vector<uint8_t> normal =
        reply.ascii && !reply.bytes.empty() ? EncodeFrame(reply.bytes) : reply.bytes;
    const ReplyFault* fault = TakeFault(phase, ordinal);
    if (fault == nullptr) {
        Emit(std::move(normal), delay);
        return true;
    }
    switch (fault->kind) {
        case FaultKind::kSilence:
            return false;
        case FaultKind::kShort:
            if (!normal.empty()) {
                normal.pop_back();
            }
            Emit(std::move(normal), delay);
            return false;
        case FaultKind::kBadLrc:
        case FaultKind::kLowerCase:
            if (!reply.bytes.empty()) {
                const bool lower = fault->kind == FaultKind::kLowerCase;
                Emit(EncodeFrame(reply.bytes, {lower, static_cast<uint8_t>(lower ? 0 : 1)}), delay);
            }
            return true;
        case FaultKind::kErrorReply:
            Emit(ErrorReply(reply.target, fault->errorClass, fault->errorState), delay);
            return false;
        case FaultKind::kNak:
            if (normal.empty()) {
                normal.push_back(kNakByte);
            }
            normal[0] = kNakByte;
            Emit(std::move(normal), delay);
            return false;
        case FaultKind::kGarbage: {
            const size_t n = !normal.empty() ? normal.size() : reply.ascii ? 19 : 1;
            Emit(std::vector<uint8_t>(n, kGarbageByte), delay);
            return false;
        }
        case FaultKind::kLate:
            Emit(std::move(normal), delay + fault->delayMs);
            return true;
    }
    return false;
}

const ReplyFault* Controller::TakeFault(Phase phase, uint32_t ordinal) {
    const auto& faults = config_.faults.replies;
    for (size_t i = 0; i < faults.size(); ++i) {
        const ReplyFault& f = faults[i];
        if (f.phase != phase) {
            continue;
        }
        const int64_t n = ordinal;
        const bool due = phase == Phase::kBlock ? n == f.skip + 1 : n > f.skip;
        if (!due || (f.times != kForever && faultUses_[i] >= f.times)) {
            continue;
        }
        ++faultUses_[i];
        return &f;
    }
    return nullptr;
}

void Controller::Emit(std::vector<uint8_t> bytes, int64_t delayMs) {
    if (!bytes.empty()) {
        output_.push_back({now_ + delayMs, std::move(bytes)});
    }
}

}  // namespace fwburn::sim

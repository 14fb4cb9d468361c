// The bootloader's command words and the erase phase.
#include <string_view>

#include "sim/ascii.hpp"
#include "sim/controller.hpp"

namespace fwburn::sim {

namespace {

constexpr std::string_view kWords[] = {"ID", "VERSION", "ERASE", "UPDATE"};

bool IsWord(std::string_view s) {
    for (std::string_view w : kWords) {
        if (w == s) {
            return true;
        }
    }
    return false;
}

bool IsWordStart(std::string_view s) {
    for (std::string_view w : kWords) {
        if (w.substr(0, s.size()) == s) {
            return true;
        }
    }
    return false;
}

}  // namespace

void Controller::FeedBootCommand(uint8_t b) {
    if (unit_ == Unit::kAscii) {
        FeedAscii(b);
        return;
    }
    if (unit_ == Unit::kWord) {
        buf_.push_back(b);
        const std::string_view word(reinterpret_cast<const char*>(buf_.data()), buf_.size());
        if (IsWord(word)) {
            DispatchWord();
            return;
        }
        if (IsWordStart(word)) {
            return;
        }
        Violation("unknown command \"" + Printable(word.substr(0, word.size() - 1)) + "\"");
        unit_ = Unit::kNone;
        // The breaking byte may start the next word.
    }
    const char c = static_cast<char>(b);
    if (b == ':') {
        StartUnit(Unit::kAscii, b);
    } else if (b == kEotByte) {
        FlushJunk();
        unitLine_ = chunkLine_;
        EndErase();
    } else if (IsWordStart(std::string_view(&c, 1))) {
        StartUnit(Unit::kWord, b);
    } else {
        Junk(b, "in the bootloader");
    }
}

void Controller::DispatchWord() {
    const std::string word(buf_.begin(), buf_.end());
    unit_ = Unit::kNone;
    CheckLine("\"" + word + "\"");
    if (word == "ID" || word == "VERSION") {
        if (state_ == State::kErasing) {
            Violation("\"" + word + "\" in the middle of the erase");
        }
        if (word == "ID") {
            const uint16_t id = config_.faults.bootId.value_or(model_->bootId);
            Reply r{{kAckByte, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id & 0xFF)}};
            if (Answer(Phase::kBootId, r)) {
                bootIdSeen_ = true;
            }
        } else {
            const BootloaderVersion v = config_.faults.version.value_or(model_->version);
            Answer(Phase::kBootVersion, {{kAckByte, v.major, static_cast<uint8_t>(v.minor << 4)}});
        }
    } else if (word == "ERASE") {
        StartEraseStep();
    } else {
        StartUpdate();
    }
}

void Controller::StartEraseStep() {
    if (!bootIdSeen_) {
        Violation("\"ERASE\" before the model ID was asked: refused");
        Emit({kNakByte}, config_.timing.replyMs);
        return;
    }
    if (eraseEnded_) {
        Violation("\"ERASE\" after the erase was ended");
        eraseEnded_ = false;
    }
    if (!Answer(Phase::kEraseStep, {{kAckByte}, false, 0, config_.timing.eraseStepMs})) {
        return;
    }
    if (state_ != State::kErasing) {
        state_ = State::kErasing;
        eraseSteps_ = 0;
        flash_.clear();
        blocksTaken_ = 0;
        transferComplete_ = false;
        flashIncomplete_ = true;
    }
    ++eraseSteps_;
    if (eraseSteps_ == config_.faults.linkLossAfterEraseStep) {
        LoseLink();
    }
}

void Controller::EndErase() {
    CheckLine("EOT");
    if (state_ != State::kErasing && eraseEnded_) {
        // A repeat after a lost ACK: the erase is over already.
        Answer(Phase::kEraseEnd, {{kAckByte}});
        return;
    }
    if (state_ != State::kErasing && !bootIdSeen_) {
        Violation("EOT before the model ID was asked: refused");
        Emit({kNakByte}, config_.timing.replyMs);
        return;
    }
    if (!Answer(Phase::kEraseEnd, {{kAckByte}})) {
        return;
    }
    const uint32_t steps = state_ == State::kErasing ? eraseSteps_ : 0;
    if (steps != expected_.eraseSteps) {
        Violation("erase ended after " + std::to_string(steps) + " steps, expected " +
                  std::to_string(expected_.eraseSteps) + " for an image of " +
                  std::to_string(config_.imageLength) + " bytes");
    }
    eraseSteps_ = steps;
    state_ = State::kBootloader;
    eraseEnded_ = true;
}

void Controller::StartUpdate() {
    if (!eraseEnded_) {
        Violation(std::string("\"UPDATE\" before the erase was ended: refused"));
        Emit({kNakByte}, config_.timing.replyMs);
        return;
    }
    if (!Answer(Phase::kUpdate, {{kAckByte}})) {
        return;
    }
    state_ = State::kTransfer;
    nextNumber_ = 1;
    blocksTaken_ = 0;
    lastBlock_.clear();
    flash_.clear();
}

}  // namespace fwburn::sim

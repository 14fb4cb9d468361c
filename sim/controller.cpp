#include "sim/controller.hpp"

#include <cstdio>
#include <stdexcept>
#include <utility>

#include "sim/ascii.hpp"

namespace fwburn::sim {

namespace {

constexpr size_t kMaxFrameChars = 64;

bool FaultFits(const ReplyFault& f) {
    const bool asciiOnly = f.kind == FaultKind::kBadLrc || f.kind == FaultKind::kLowerCase ||
                           f.kind == FaultKind::kErrorReply;
    const bool rawOnly = f.kind == FaultKind::kNak;
    const bool ascii = IsAsciiPhase(f.phase);
    return f.phase < Phase::kCount && !(asciiOnly && !ascii) && !(rawOnly && ascii);
}

std::string Describe(const LineSettings& l) {
    const char parity = l.parity == 0 ? 'N' : l.parity == 1 ? 'O' : l.parity == 2 ? 'E' : '?';
    const char* stop = l.stopBits == 0 ? "1" : l.stopBits == 1 ? "1.5" : "2";
    std::string text =
        std::to_string(l.baudRate) + " " + std::to_string(l.byteSize) + parity + stop;
    // DTR and RTS are named only when a host left them on.
    if (l.dtrControl != kControlDisabled) {
        text += " DTR control " + std::to_string(l.dtrControl);
    }
    if (l.rtsControl != kControlDisabled) {
        text += " RTS control " + std::to_string(l.rtsControl);
    }
    return text;
}

}  // namespace

const char* StateName(State state) {
    switch (state) {
        case State::kApplication:
            return "application";
        case State::kRestarting:
            return "restarting";
        case State::kAwaitingReplug:
            return "waiting for a replug";
        case State::kAwaitingPowerCycle:
            return "waiting for a power cycle";
        case State::kBootloader:
            return "bootloader";
        case State::kErasing:
            return "erasing";
        case State::kTransfer:
            return "transfer";
        case State::kTransferDone:
            return "transfer done";
    }
    return "?";
}

Controller::Controller(Config config) : config_(std::move(config)) {
    model_ = FindModel(config_.model);
    if (model_ == nullptr) {
        throw std::invalid_argument("no model is named \"" + config_.model + "\"");
    }
    for (const ReplyFault& f : config_.faults.replies) {
        if (!FaultFits(f)) {
            throw std::invalid_argument(std::string("fault kind does not fit phase ") +
                                        PhaseName(f.phase));
        }
    }
    expected_ = ExpectedGeometry(*model_, config_.imageLength);
    faultUses_.assign(config_.faults.replies.size(), 0);
    state_ = config_.faults.bootAtPowerOn ? State::kBootloader : State::kApplication;
}

void Controller::Receive(const uint8_t* data, size_t length, int64_t atMs,
                         const LineSettings* line) {
    AdvanceTo(atMs);
    if (length == 0 || linkLost_) {
        return;
    }
    if (unit_ != Unit::kNone && atMs - lastByteMs_ > config_.timing.interByteTimeoutMs) {
        DropIncompleteUnit();
    }
    lastByteMs_ = atMs;
    chunkLine_ = line != nullptr ? std::optional<LineSettings>(*line) : std::nullopt;
    for (size_t i = 0; i < length && !linkLost_; ++i) {
        Feed(data[i]);
        if (blockEnded_) {
            blockEnded_ = false;
            // The host must wait for the reply to a block; more bytes in the same write mean
            // its frames are longer than this model's.
            if (i + 1 < length) {
                Violation("block frame followed by " + std::to_string(length - i - 1) +
                          " more bytes in the same write: frames longer than " +
                          std::to_string(FrameLength()) + " bytes");
                break;
            }
        }
    }
    FlushJunk();
}

void Controller::AdvanceTo(int64_t nowMs) {
    if (nowMs > now_) {
        now_ = nowMs;
    }
    if (state_ == State::kRestarting && now_ >= bootDueMs_) {
        state_ = config_.faults.stayInApplication ? State::kApplication : State::kBootloader;
        NewSession();
    }
}

void Controller::Replug(int64_t atMs) {
    AdvanceTo(atMs);
    if (model_->link == LinkKind::kUsb) {
        PowerOn();
    }
}

void Controller::PowerCycle(int64_t atMs) {
    AdvanceTo(atMs);
    PowerOn();
}

std::vector<Emission> Controller::TakeOutput() {
    return std::exchange(output_, {});
}

void Controller::PowerOn() {
    const bool armed = state_ == State::kRestarting || state_ == State::kAwaitingReplug ||
                       state_ == State::kAwaitingPowerCycle;
    // A bootloader that finds no complete application stays in charge.
    const bool boot = (armed && !config_.faults.stayInApplication) ||
                      config_.faults.bootAtPowerOn || flashIncomplete_;
    state_ = boot ? State::kBootloader : State::kApplication;
    unit_ = Unit::kNone;
    buf_.clear();
    junkWhere_ = nullptr;
    junkCount_ = 0;
    junkSample_.clear();
    linkLost_ = false;
    NewSession();
}

void Controller::LoseLink() {
    const int times = config_.faults.linkLossTimes;
    if (times == kForever || linkLosses_ < times) {
        ++linkLosses_;
        linkLost_ = true;
    }
}

void Controller::NewSession() {
    modeQueried_ = false;
    idQueried_ = false;
    updateReplied_ = false;
    bootIdSeen_ = false;
    eraseEnded_ = false;
}

void Controller::Feed(uint8_t b) {
    switch (state_) {
        case State::kApplication:
            FeedApplication(b);
            return;
        case State::kRestarting:
        case State::kAwaitingReplug:
        case State::kAwaitingPowerCycle:
            Junk(b, "while the controller restarts");
            return;
        case State::kBootloader:
        case State::kErasing:
            FeedBootCommand(b);
            return;
        case State::kTransfer:
        case State::kTransferDone:
            FeedTransfer(b);
            return;
    }
}

void Controller::FeedAscii(uint8_t b) {
    buf_.push_back(b);
    if (b == '\n') {
        DispatchAscii();
    } else if (buf_.size() > kMaxFrameChars) {
        Violation("frame longer than " + std::to_string(kMaxFrameChars) + " characters: \"" +
                  Printable(std::string(buf_.begin(), buf_.end())) + "\"");
        unit_ = Unit::kNone;
    }
}

void Controller::StartUnit(Unit unit, uint8_t b) {
    FlushJunk();
    unit_ = unit;
    unitLine_ = chunkLine_;
    buf_.assign(1, b);
}

void Controller::DropIncompleteUnit() {
    const std::string text(buf_.begin(), buf_.end());
    switch (unit_) {
        case Unit::kAscii:
            Violation("incomplete frame \"" + Printable(text) + "\"");
            break;
        case Unit::kWord:
            Violation("incomplete command \"" + Printable(text) + "\"");
            break;
        case Unit::kBlock:
            Violation("incomplete block frame: " + std::to_string(buf_.size()) + " of " +
                      std::to_string(FrameLength()) + " bytes");
            break;
        case Unit::kNone:
            break;
    }
    unit_ = Unit::kNone;
}

void Controller::Junk(uint8_t b, const char* where) {
    if (junkWhere_ != where) {
        FlushJunk();
        junkWhere_ = where;
    }
    ++junkCount_;
    if (junkSample_.size() < 16) {
        junkSample_ += static_cast<char>(b);
    }
}

void Controller::FlushJunk() {
    if (junkCount_ > 0) {
        Violation(std::to_string(junkCount_) + " unexpected byte(s) " + junkWhere_ + ": \"" +
                  Printable(junkSample_) + (junkCount_ > junkSample_.size() ? "...\"" : "\""));
    }
    junkWhere_ = nullptr;
    junkCount_ = 0;
    junkSample_.clear();
}

void Controller::Violation(const std::string& text) {
    violations_.push_back("[" + std::to_string(now_) + " ms, " + StateName(state_) + "] " + text);
}

void Controller::CheckLine(const std::string& what) {
    if (model_->link != LinkKind::kSerial || config_.lineCheck == LineCheck::kOff || !unitLine_) {
        return;
    }
    const bool transfer = state_ == State::kTransfer || state_ == State::kTransferDone;
    const LineSettings want =
        transfer
            ? LineSettings{115200, 8, kNoParity, kOneStopBit, kControlDisabled, kControlDisabled}
            : LineSettings{9600, 7, kEvenParity, kOneStopBit, kControlDisabled, kControlDisabled};
    const LineSettings& got = *unitLine_;
    // DTR and RTS control belong to the settings too: a port that nobody set up has them on.
    const bool ok =
        config_.lineCheck == LineCheck::kFull ? got == want : got.baudRate == want.baudRate;
    if (!ok) {
        Violation(what + " at " + Describe(got) + ", expected " + Describe(want));
    }
}

}  // namespace fwburn::sim

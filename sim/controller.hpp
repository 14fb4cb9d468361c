// A simulated Korvan controller: application firmware and bootloader, driven by the bytes a host
// sends, answering with bytes stamped with the virtual time they reach the host. It has no clock
// of its own: every call carries the time. It checks everything it receives against what a
// correct host sends and records each deviation as a readable violation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/device.hpp"
#include "sim/config.hpp"
#include "sim/models.hpp"
#include "sim/requests.hpp"

namespace fwburn::sim {

// Bytes the controller puts on the line, available to the host from `atMs` on.
struct Emission {
    int64_t atMs = 0;
    std::vector<uint8_t> bytes;
};

enum class State {
    kApplication,         // application firmware
    kRestarting,          // update accepted; restarting into the bootloader by itself
    kAwaitingReplug,      // update accepted; the bootloader starts when the USB cable is replugged
    kAwaitingPowerCycle,  // update accepted; the bootloader starts at the next power-on
    kBootloader,          // bootloader, taking command words
    kErasing,             // bootloader, between the first "ERASE" and the closing EOT
    kTransfer,            // bootloader, after "UPDATE": taking blocks
    kTransferDone,        // bootloader, the EOT of the transfer taken
};
const char* StateName(State state);

class Controller {
  public:
    // Throws std::invalid_argument for an unknown model or a fault that cannot apply to its phase.
    explicit Controller(Config config);

    // Takes what the host wrote in one piece; `atMs` is when its last byte arrived, `line` the
    // host's line settings then (nullptr when there are none, as on a USB link).
    void Receive(const uint8_t* data, size_t length, int64_t atMs, const LineSettings* line);
    // Lets time pass (a restart that completes by itself).
    void AdvanceTo(int64_t nowMs);
    // The operator's reconnect actions. Replug() does nothing to a serial-linked model.
    void Replug(int64_t atMs);
    void PowerCycle(int64_t atMs);
    // The cable of a lost link is back; the controller itself carries on.
    void RestoreLink() { linkLost_ = false; }
    // Replies produced since the last call.
    std::vector<Emission> TakeOutput();
    // Set by the link-loss fault: from then on the link carries nothing either way.
    bool LinkLost() const { return linkLost_; }

    const ModelInfo& model() const { return *model_; }
    const Config& config() const { return config_; }
    const Geometry& expected() const { return expected_; }
    State state() const { return state_; }

    // Data of every block taken since the last erase, in order, fill bytes included.
    const std::vector<uint8_t>& flash() const { return flash_; }
    uint32_t blocksTaken() const { return blocksTaken_; }
    // "ERASE" steps of the latest erase phase.
    uint32_t eraseSteps() const { return eraseSteps_; }
    // The transfer ended with EOT after exactly the expected blocks.
    bool transferComplete() const { return transferComplete_; }
    // Requests of a phase that reached its reply (faulted ones included).
    uint32_t requests(Phase phase) const { return requests_[static_cast<size_t>(phase)]; }

    const std::vector<std::string>& violations() const { return violations_; }
    size_t violationCount() const { return violations_.size(); }

  private:
    enum class Unit { kNone, kAscii, kWord, kBlock };

    // A reply before faults shape it: an ASCII message (framed on the way out) or raw bytes.
    struct Reply {
        std::vector<uint8_t> bytes;
        bool ascii = false;
        uint8_t target = 0x59;  // echoed by an injected error reply
        int64_t workMs = 0;     // time the controller needs before it can answer
    };

    // controller.cpp: byte intake, units, restarts, violations
    void Feed(uint8_t b);
    void FeedAscii(uint8_t b);
    void StartUnit(Unit unit, uint8_t b);
    void DropIncompleteUnit();
    void Junk(uint8_t b, const char* where);
    void FlushJunk();
    void Violation(const std::string& text);
    void CheckLine(const std::string& what);
    void PowerOn();
    void LoseLink();
    void NewSession();
    uint8_t Target() const { return model_->analogModule ? 0x5B : 0x59; }

    // replies.cpp: answering, with the configured faults
    bool Answer(Phase phase, const Reply& reply, uint32_t ordinal = 0);
    const ReplyFault* TakeFault(Phase phase, uint32_t ordinal);
    void Emit(std::vector<uint8_t> bytes, int64_t delayMs);

    // app_firmware.cpp
    void FeedApplication(uint8_t b);
    void DispatchAscii();
    void HandleApplication(Request request);
    void AcceptUpdate();

    // bootloader.cpp
    void FeedBootCommand(uint8_t b);
    void HandleBootAscii(Request request);
    void DispatchWord();
    void StartEraseStep();
    void EndErase();
    void StartUpdate();

    // transfer.cpp
    void FeedTransfer(uint8_t b);
    void DispatchBlock();
    void TakeBlock(uint8_t number, const std::vector<uint8_t>& data, uint32_t ordinal);
    void CheckFill(const std::vector<uint8_t>& data);
    void EndTransfer();
    size_t FrameLength() const { return model_->blockSize + 5u; }

    Config config_;
    const ModelInfo* model_ = nullptr;
    Geometry expected_;
    State state_ = State::kApplication;
    int64_t now_ = 0;
    int64_t bootDueMs_ = 0;
    bool linkLost_ = false;
    int linkLosses_ = 0;

    // Intake
    Unit unit_ = Unit::kNone;
    std::vector<uint8_t> buf_;
    std::optional<LineSettings> chunkLine_;
    std::optional<LineSettings> unitLine_;
    int64_t lastByteMs_ = 0;
    bool blockEnded_ = false;
    const char* junkWhere_ = nullptr;
    size_t junkCount_ = 0;
    std::string junkSample_;

    // Application session, from the latest mode query
    bool modeQueried_ = false;
    bool idQueried_ = false;
    bool updateReplied_ = false;

    // Bootloader session
    bool bootIdSeen_ = false;
    bool eraseEnded_ = false;
    uint32_t eraseSteps_ = 0;
    bool flashIncomplete_ = false;  // erased and not completely written: no application to run

    // Transfer
    std::vector<uint8_t> flash_;
    uint32_t blocksTaken_ = 0;
    uint8_t nextNumber_ = 1;
    std::vector<uint8_t> lastBlock_;
    bool transferComplete_ = false;

    std::vector<Emission> output_;
    std::vector<int> faultUses_;
    std::array<uint32_t, static_cast<size_t>(Phase::kCount)> requests_{};
    std::vector<std::string> violations_;
};

}  // namespace fwburn::sim

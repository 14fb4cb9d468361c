#include "sim/sim_link.hpp"

#include <algorithm>

namespace fwburn::sim {

namespace {

int64_t CeilDiv(int64_t n, int64_t d) {
    return (n + d - 1) / d;
}

}  // namespace

SimLink::SimLink(Controller& controller, LinkOptions options)
    : controller_(controller),
      options_(options),
      serial_(controller.model().link == LinkKind::kSerial),
      line_(options.initialLine) {}

bool SimLink::Open() {
    if (open_ || controller_.LinkLost()) {
        return false;
    }
    open_ = true;
    stale_ = false;
    timeouts_ = {};
    input_.clear();
    return true;
}

void SimLink::Close() {
    open_ = false;
    stale_ = false;
    input_.clear();
}

void SimLink::AdvanceMs(int64_t ms) {
    now_ += ms;
    controller_.AdvanceTo(now_);
}

void SimLink::Replug() {
    controller_.Replug(now_);
    if (!serial_) {
        stale_ = open_;
        input_.clear();
    }
}

void SimLink::PowerCycle() {
    controller_.PowerCycle(now_);
    if (!serial_) {
        stale_ = open_;
        input_.clear();
        return;
    }
    // What the controller had not yet sent died with it; what arrived stays in the port.
    input_.erase(std::remove_if(input_.begin(), input_.end(),
                                [this](const Pending& p) { return p.atMs > now_; }),
                 input_.end());
}

void SimLink::Reconnect() {
    controller_.RestoreLink();
}

bool SimLink::Usable() const {
    return open_ && !stale_ && !controller_.LinkLost();
}

int64_t SimLink::WireUs(int64_t bytes) const {
    const int64_t parityBits = line_.parity != kNoParity ? 1 : 0;
    const int64_t stopTenths = line_.stopBits == 0 ? 10 : line_.stopBits == 1 ? 15 : 20;
    const int64_t bitTenths = 10 * (1 + line_.byteSize + parityBits) + stopTenths;
    return bytes * bitTenths * 100000 / line_.baudRate;
}

uint32_t SimLink::Write(const uint8_t* data, uint32_t length) {
    if (!Usable()) {
        return 0;
    }
    if (Timed()) {
        now_ += CeilDiv(WireUs(length), 1000);
    }
    controller_.Receive(data, length, now_, serial_ ? &line_ : nullptr);
    Collect();
    return length;
}

uint32_t SimLink::Read(uint8_t* buffer, uint32_t length) {
    if (!Usable()) {
        return 0;
    }
    const int64_t deadline =
        now_ + timeouts_.readTotalConstant + int64_t{timeouts_.readTotalMultiplier} * length;
    uint32_t count = 0;
    while (count < length && !input_.empty() && input_.front().atMs <= deadline) {
        now_ = std::max(now_, input_.front().atMs);
        buffer[count++] = input_.front().byte;
        input_.pop_front();
    }
    if (count < length) {
        now_ = deadline;
    }
    controller_.AdvanceTo(now_);
    return count;
}

bool SimLink::GetLineSettings(LineSettings& settings) {
    if (!serial_ || !open_) {
        return false;
    }
    settings = line_;
    return true;
}

bool SimLink::SetLineSettings(const LineSettings& settings) {
    if (!serial_ || !open_) {
        return false;
    }
    line_ = settings;
    return true;
}

bool SimLink::SetTimeouts(const Timeouts& timeouts) {
    if (!open_) {
        return false;
    }
    timeouts_ = timeouts;
    return true;
}

uint32_t SimLink::DiscardInput() {
    uint32_t dropped = 0;
    while (!input_.empty() && input_.front().atMs <= now_) {
        input_.pop_front();
        ++dropped;
    }
    return dropped;
}

void SimLink::Collect() {
    for (Emission& e : controller_.TakeOutput()) {
        const int64_t n = static_cast<int64_t>(e.bytes.size());
        for (int64_t i = 0; i < n; ++i) {
            const int64_t at = Timed() ? e.atMs + CeilDiv(WireUs(i + 1), 1000) : e.atMs;
            input_.push_back({at, e.bytes[static_cast<size_t>(i)]});
        }
    }
    std::stable_sort(input_.begin(), input_.end(),
                     [](const Pending& a, const Pending& b) { return a.atMs < b.atMs; });
    if (controller_.LinkLost()) {
        input_.clear();
    }
}

}  // namespace fwburn::sim

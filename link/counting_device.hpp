// A device seen through a counter: how many bytes came back, in all and since the device now
// attached was, and the first bytes of the last read that brought any. It tells "nothing ever came
// back" from "bytes came, none made a valid reply", which the retry counters alone cannot; the
// counts go on across devices, so that a port reopened after a replug does not hide what the
// controller answered before it.
#pragma once

#include <cstdint>
#include <cstring>

#include "link/device.hpp"

namespace fwburn {

class CountingDevice final : public Device {
  public:
    static constexpr uint32_t kSampleSize = 24;

    CountingDevice() = default;
    explicit CountingDevice(Device& inner) { Attach(inner); }

    // Follows `inner` from now on; receivedSinceAttach() starts again from 0.
    void Attach(Device& inner) {
        inner_ = &inner;
        attachedAt_ = received_;
    }

    uint32_t Write(const uint8_t* data, uint32_t length) override {
        return inner_->Write(data, length);
    }
    uint32_t Read(uint8_t* buffer, uint32_t length) override {
        const uint32_t n = inner_->Read(buffer, length);
        if (n > 0) {
            received_ += n;
            sampleLength_ = n < kSampleSize ? n : kSampleSize;
            std::memcpy(sample_, buffer, sampleLength_);
        }
        return n;
    }
    bool GetLineSettings(LineSettings& settings) override {
        return inner_->GetLineSettings(settings);
    }
    bool SetLineSettings(const LineSettings& settings) override {
        return inner_->SetLineSettings(settings);
    }
    bool SetTimeouts(const Timeouts& timeouts) override { return inner_->SetTimeouts(timeouts); }
    uint32_t DiscardInput() override { return inner_->DiscardInput(); }
    uint32_t ReadLatencyMs() const override { return inner_->ReadLatencyMs(); }

    uint32_t received() const { return received_; }
    uint32_t receivedSinceAttach() const { return received_ - attachedAt_; }
    const uint8_t* sample() const { return sample_; }
    uint32_t sampleLength() const { return sampleLength_; }

  private:
    Device* inner_ = &ClosedDevice();
    uint32_t received_ = 0;
    uint32_t attachedAt_ = 0;
    uint8_t sample_[kSampleSize] = {};
    uint32_t sampleLength_ = 0;
};

}  // namespace fwburn

// A device whose every reply comes from the fuzzer's bytes. Each read takes one control byte:
// its low bits say how many of the following bytes arrive (possibly fewer than asked, possibly
// none, which costs the read its time-out); writes may come up short the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "link/device.hpp"

namespace fwburn::fuzz {

class FuzzDevice : public Device {
  public:
    FuzzDevice(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint32_t Write(const uint8_t* bytes, uint32_t length) override {
        writes.emplace_back(bytes, bytes + length);
        readAfter.emplace_back();
        ++writeCount;
        // One in eight writes comes up short, as a port whose write time-out ran out.
        if (Next() % 8 == 7) {
            const uint32_t written = length == 0 ? 0 : Next() % length;
            shortWrites += written != length;
            return written;
        }
        return length;
    }

    uint32_t Read(uint8_t* buffer, uint32_t length) override {
        ++readCount;
        const uint8_t control = Next();
        uint32_t n =
            control % 4 == 0 ? 0 : (control % 4 == 1 ? control / 4 % (length + 1) : length);
        uint32_t got = 0;
        for (; got < n && pos_ < size_; ++got) {
            buffer[got] = data_[pos_++];
        }
        if (readAfter.empty()) {
            readAfter.emplace_back();
        }
        readAfter.back().insert(readAfter.back().end(), buffer, buffer + got);
        return got;
    }

    bool GetLineSettings(LineSettings& s) override {
        s = line;
        return true;
    }
    bool SetLineSettings(const LineSettings& s) override {
        line = s;
        return true;
    }
    bool SetTimeouts(const Timeouts& t) override {
        timeouts = t;
        return true;
    }
    uint32_t DiscardInput() override { return 0; }
    uint32_t ReadLatencyMs() const override { return 0; }

    bool Exhausted() const { return pos_ >= size_; }

    std::vector<std::vector<uint8_t>> writes;
    // Everything read after each write, in the order of the writes: a reply may take more than
    // one read, and reads that drop late replies may follow it.
    std::vector<std::vector<uint8_t>> readAfter;
    uint32_t writeCount = 0;
    uint32_t readCount = 0;
    uint32_t shortWrites = 0;
    LineSettings line{};
    Timeouts timeouts{};

  private:
    uint8_t Next() { return pos_ < size_ ? data_[pos_++] : 0; }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace fwburn::fuzz

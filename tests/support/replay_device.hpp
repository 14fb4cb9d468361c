// Plays the controller's side of a recorded trace: each write must be the bytes the host wrote
// then, and each read gets the bytes the controller answered then. A field report becomes a test.
#pragma once

#include <string>
#include <vector>

#include "link/trace/trace_event.hpp"

namespace fwburn::test {

class ReplayDevice : public Device {
  public:
    explicit ReplayDevice(std::vector<TraceEvent> events) {
        for (TraceEvent& e : events) {
            if (e.kind == "tx" || e.kind == "rx") {
                exchanges_.push_back(std::move(e));
            }
        }
    }

    uint32_t Write(const uint8_t* data, uint32_t length) override {
        const TraceEvent* e = Next("tx");
        if (e == nullptr) {
            return 0;
        }
        if (e->bytes != std::vector<uint8_t>(data, data + length)) {
            mismatches.push_back("write " + std::to_string(at_) + " (" + e->request + ") differs");
        }
        return e->count;
    }

    uint32_t Read(uint8_t* buffer, uint32_t length) override {
        const TraceEvent* e = Next("rx");
        if (e == nullptr) {
            return 0;
        }
        if (e->count != length) {
            mismatches.push_back("read " + std::to_string(at_) + " asks " + std::to_string(length));
        }
        const uint32_t n = static_cast<uint32_t>(e->bytes.size()) < length
                               ? static_cast<uint32_t>(e->bytes.size())
                               : length;
        std::copy(e->bytes.begin(), e->bytes.begin() + n, buffer);
        return n;
    }

    bool GetLineSettings(LineSettings&) override { return true; }
    bool SetLineSettings(const LineSettings&) override { return true; }
    bool SetTimeouts(const Timeouts&) override { return true; }
    uint32_t DiscardInput() override { return 0; }
    uint32_t ReadLatencyMs() const override { return 0; }

    bool Finished() const { return at_ == exchanges_.size(); }
    std::vector<std::string> mismatches;

  private:
    const TraceEvent* Next(const char* kind) {
        if (at_ >= exchanges_.size()) {
            mismatches.push_back(std::string("a ") + kind + " past the end of the trace");
            return nullptr;
        }
        const TraceEvent* e = &exchanges_[at_++];
        if (e->kind != kind) {
            mismatches.push_back("event " + std::to_string(at_) + " is " + e->kind + ", not " +
                                 kind);
        }
        return e;
    }

    std::vector<TraceEvent> exchanges_;
    size_t at_ = 0;
};

}  // namespace fwburn::test

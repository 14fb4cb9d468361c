// A device that passes every call to another and records it in a link trace.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/device.hpp"
#include "link/trace/trace_writer.hpp"

namespace fwburn {

// The name of a request by the bytes written: one word, no spaces ("mode-query", "block-17").
// The link knows bytes, not requests: the front end gives the protocol's namer.
using RequestNamer = std::function<std::string(const uint8_t* data, uint32_t length)>;

// Passes every call to `inner` and records it. A write is named by `namer` ("unknown" for every
// write when there is none); a read carries the name of the write before it. A write of the same
// bytes as the one before is marked a retry, except for the request named "wake": the wake-up
// frame goes out several times by design.
class TracingDevice : public Device {
  public:
    TracingDevice(Device& inner, TraceWriter& trace, RequestNamer namer)
        : inner_(inner), trace_(trace), namer_(std::move(namer)) {}

    uint32_t Write(const uint8_t* data, uint32_t length) override;
    uint32_t Read(uint8_t* buffer, uint32_t length) override;
    bool GetLineSettings(LineSettings& settings) override;
    bool SetLineSettings(const LineSettings& settings) override;
    bool SetTimeouts(const Timeouts& timeouts) override;
    uint32_t DiscardInput() override;
    uint32_t ReadLatencyMs() const override { return inner_.ReadLatencyMs(); }

  private:
    Device& inner_;
    TraceWriter& trace_;
    RequestNamer namer_;
    std::string lastRequest_ = "none";
    std::vector<uint8_t> lastWrite_;
    bool wrote_ = false;
};

}  // namespace fwburn

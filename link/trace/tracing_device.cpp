#include "link/trace/tracing_device.hpp"

#include <utility>

namespace fwburn {

uint32_t TracingDevice::Write(const uint8_t* data, uint32_t length) {
    TraceEvent e;
    e.kind = "tx";
    e.bytes.assign(data, data + length);
    const bool repeated = wrote_ && e.bytes == lastWrite_;
    lastWrite_ = e.bytes;
    wrote_ = true;
    lastRequest_ = namer_ ? namer_(data, length) : "unknown";
    e.request = lastRequest_;
    const uint32_t written = inner_.Write(data, length);
    e.count = written;
    e.retry = repeated && lastRequest_ != "wake";  // the wake frames go out five times by design
    trace_.Write(std::move(e));
    return written;
}

uint32_t TracingDevice::Read(uint8_t* buffer, uint32_t length) {
    const uint32_t got = inner_.Read(buffer, length);
    TraceEvent e;
    e.kind = "rx";
    e.request = lastRequest_;
    e.bytes.assign(buffer, buffer + got);
    e.count = length;
    trace_.Write(std::move(e));
    return got;
}

bool TracingDevice::GetLineSettings(LineSettings& settings) {
    const bool ok = inner_.GetLineSettings(settings);
    TraceEvent e;
    e.kind = "get-line";
    e.failed = !ok;
    trace_.Write(std::move(e));
    return ok;
}

bool TracingDevice::SetLineSettings(const LineSettings& settings) {
    const bool ok = inner_.SetLineSettings(settings);
    TraceEvent e;
    e.kind = "set-line";
    e.line = settings;
    e.failed = !ok;
    trace_.Write(std::move(e));
    return ok;
}

bool TracingDevice::SetTimeouts(const Timeouts& t) {
    const bool ok = inner_.SetTimeouts(t);
    TraceEvent e;
    e.kind = "timeouts";
    e.timeouts = t;
    trace_.Write(std::move(e));
    return ok;
}

uint32_t TracingDevice::DiscardInput() {
    const uint32_t dropped = inner_.DiscardInput();
    TraceEvent e;
    e.kind = "discard";
    e.count = dropped;
    trace_.Write(std::move(e));
    return dropped;
}

}  // namespace fwburn

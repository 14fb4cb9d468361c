#include "tests/support/fake_device.hpp"

#include <algorithm>

namespace fwburn::test {

Reaction Reply(const std::string& text, int64_t delayMs) {
    return ReplyBytes(ToBytes(text), delayMs);
}

Reaction ReplyBytes(const Bytes& bytes, int64_t delayMs) {
    Reaction r;
    r.arrivals.push_back({delayMs, bytes});
    return r;
}

Reaction Silence() {
    return Reaction{};
}

Reaction ShortWrite(int64_t written) {
    Reaction r;
    r.written = written;
    return r;
}

Call FakeDevice::NewCall(Call::Kind kind) const {
    Call call;
    call.kind = kind;
    call.atMs = now_;
    return call;
}

uint32_t FakeDevice::Write(const uint8_t* data, uint32_t length) {
    Call call = NewCall(Call::kWrite);
    call.bytes.assign(data, data + length);
    Reaction reaction;
    if (!script.empty()) {
        reaction = std::move(script.front());
        script.pop_front();
    } else {
        reaction = fallback(call.bytes);
    }
    uint32_t written = length;
    if (reaction.written >= 0 && reaction.written < length) {
        written = static_cast<uint32_t>(reaction.written);
        // A short write is a write time-out that ran out.
        now_ += timeouts_.writeTotalConstant + int64_t{timeouts_.writeTotalMultiplier} * length;
    }
    call.count = written;
    calls_.push_back(call);
    for (const Arrival& a : reaction.arrivals) {
        for (uint8_t b : a.bytes) {
            input_.push_back({call.atMs + a.delayMs, b});
        }
    }
    std::stable_sort(input_.begin(), input_.end(),
                     [](const Pending& x, const Pending& y) { return x.atMs < y.atMs; });
    return written;
}

uint32_t FakeDevice::Read(uint8_t* buffer, uint32_t length) {
    Call call = NewCall(Call::kRead);
    call.requested = length;
    const int64_t deadline =
        now_ + timeouts_.readTotalConstant + int64_t{timeouts_.readTotalMultiplier} * length;
    uint32_t count = 0;
    while (count < length && !input_.empty() && input_.front().atMs <= deadline) {
        const Pending p = input_.front();
        input_.pop_front();
        buffer[count++] = p.byte;
        call.bytes.push_back(p.byte);
        now_ = std::max(now_, p.atMs);
    }
    if (count < length) {
        now_ = deadline;
    }
    call.count = count;
    calls_.push_back(call);
    return count;
}

bool FakeDevice::GetLineSettings(LineSettings& settings) {
    Call call = NewCall(Call::kGetLine);
    calls_.push_back(call);
    if (!serialPort || lineReadFails) {
        return false;
    }
    settings = line;
    return true;
}

bool FakeDevice::SetLineSettings(const LineSettings& settings) {
    Call call = NewCall(Call::kSetLine);
    call.line = settings;
    calls_.push_back(call);
    if (!serialPort) {
        return false;
    }
    line = settings;
    return true;
}

bool FakeDevice::SetTimeouts(const Timeouts& timeouts) {
    Call call = NewCall(Call::kSetTimeouts);
    call.timeouts = timeouts;
    calls_.push_back(call);
    timeouts_ = timeouts;
    return true;
}

uint32_t FakeDevice::DiscardInput() {
    Call call = NewCall(Call::kDiscard);
    while (!input_.empty() && input_.front().atMs <= now_) {
        call.bytes.push_back(input_.front().byte);
        input_.pop_front();
    }
    call.count = static_cast<uint32_t>(call.bytes.size());
    calls_.push_back(call);
    return call.count;
}

void FakeDevice::Inject(const std::string& text, int64_t delayMs) {
    for (char c : text) {
        input_.push_back({now_ + delayMs, static_cast<uint8_t>(c)});
    }
    std::stable_sort(input_.begin(), input_.end(),
                     [](const Pending& x, const Pending& y) { return x.atMs < y.atMs; });
}

std::vector<Call> FakeDevice::CallsOf(Call::Kind kind) const {
    std::vector<Call> out;
    for (const Call& c : calls_) {
        if (c.kind == kind) {
            out.push_back(c);
        }
    }
    return out;
}

std::vector<std::string> FakeDevice::Writes() const {
    std::vector<std::string> out;
    for (const Call& c : CallsOf(Call::kWrite)) {
        out.push_back(ToText(c.bytes));
    }
    return out;
}

}  // namespace fwburn::test

// A scripted device for unit tests. It records every call made on it, answers each write with the
// next scripted reaction, and spends time only on a virtual clock: a read that cannot be satisfied
// advances the clock by its total time-out, as a real port would make the caller wait.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/device.hpp"

namespace fwburn::test {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}
inline std::string ToText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Bytes that reach the host `delayMs` after the write that caused them.
struct Arrival {
    int64_t delayMs = 0;
    Bytes bytes;
};

// What the device does with one write.
struct Reaction {
    int64_t written = -1;  // count the write reports; -1: all of it
    std::vector<Arrival> arrivals;
};

// Common reactions.
Reaction Reply(const std::string& text, int64_t delayMs = 0);
Reaction ReplyBytes(const Bytes& bytes, int64_t delayMs = 0);
Reaction Silence();
Reaction ShortWrite(int64_t written = 0);

struct Call {
    enum Kind { kWrite, kRead, kGetLine, kSetLine, kSetTimeouts, kDiscard };
    Kind kind = kWrite;
    int64_t atMs = 0;        // virtual time when the call began
    Bytes bytes;             // write: bytes offered; read: bytes returned
    uint32_t requested = 0;  // read: bytes asked for
    uint32_t count = 0;      // write: count reported; read: count returned
    LineSettings line;
    Timeouts timeouts;
};

class FakeDevice : public Device {
  public:
    // Reactions are used one per write, in order; when they run out, `fallback` answers.
    std::deque<Reaction> script;
    std::function<Reaction(const Bytes& written)> fallback = [](const Bytes&) { return Silence(); };
    bool serialPort = true;  // false: behaves as a USB handle (no line settings)
    // The port takes settings but cannot report them: GetLineSettings fails, SetLineSettings
    // still applies. Shows a caller (or a device) that gives up on the write when the read fails.
    bool lineReadFails = false;
    LineSettings line{19200, 8, 0, 0, 1, 1};  // what the port had before anybody touched it
    uint32_t readLatencyMs = 0;               // what the link says of itself

    uint32_t Write(const uint8_t* data, uint32_t length) override;
    uint32_t Read(uint8_t* buffer, uint32_t length) override;
    bool GetLineSettings(LineSettings& settings) override;
    bool SetLineSettings(const LineSettings& settings) override;
    bool SetTimeouts(const Timeouts& timeouts) override;
    uint32_t DiscardInput() override;
    uint32_t ReadLatencyMs() const override { return readLatencyMs; }

    // Puts bytes on the line now, as if the controller had sent them unasked.
    void Inject(const std::string& text, int64_t delayMs = 0);

    int64_t nowMs() const { return now_; }
    const std::vector<Call>& calls() const { return calls_; }
    std::vector<Call> CallsOf(Call::Kind kind) const;
    // Texts of the writes, in order.
    std::vector<std::string> Writes() const;
    const Timeouts& timeouts() const { return timeouts_; }

  private:
    struct Pending {
        int64_t atMs;
        uint8_t byte;
    };
    Call NewCall(Call::Kind kind) const;

    std::vector<Call> calls_;
    std::deque<Pending> input_;
    Timeouts timeouts_{};
    int64_t now_ = 0;
};

}  // namespace fwburn::test

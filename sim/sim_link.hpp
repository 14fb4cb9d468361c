// The in-process link: a device handle over a simulated controller, on a virtual clock in
// milliseconds. Like the scripted test device, a read that is not satisfied spends its whole
// total time-out, and nothing else takes time unless wire-speed emulation is on.
#pragma once

#include <cstdint>
#include <deque>

#include "link/device.hpp"
#include "sim/controller.hpp"

namespace fwburn::sim {

struct LinkOptions {
    // Serial models only: every byte takes its time on the line at the current settings
    // (start bit, data bits, parity, stop bits at the baud rate), both ways.
    bool wireSpeed = false;
    // What a serial port holds before any host has set it; a reopen keeps what was set last.
    LineSettings initialLine{9600, 8, kNoParity, kOneStopBit, 1, 1};
};

class SimLink final : public Device {
  public:
    explicit SimLink(Controller& controller, LinkOptions options = {});

    // Opening fails while the link is lost, and when it is open already (ports are exclusive).
    // A fresh handle has no time-outs set and no input.
    bool Open();
    void Close();
    bool IsOpen() const { return open_; }

    int64_t NowMs() const { return now_; }
    // The host's waits (and the operator's pauses) go through here.
    void AdvanceMs(int64_t ms);

    // Operator actions. For a USB model both take the device away under an open handle: its I/O
    // fails until it is closed and opened again. Both bring a lost link back.
    void Replug();
    void PowerCycle();
    // The lost cable is plugged back in; the controller carries on where it was.
    void Reconnect();

    // The settings the host set last (serial models).
    const LineSettings& line() const { return line_; }
    const Timeouts& timeouts() const { return timeouts_; }
    // Bytes on their way to the host, arrived or not.
    size_t pendingBytes() const { return input_.size(); }

    uint32_t Write(const uint8_t* data, uint32_t length) override;
    uint32_t Read(uint8_t* buffer, uint32_t length) override;
    bool GetLineSettings(LineSettings& settings) override;
    bool SetLineSettings(const LineSettings& settings) override;
    bool SetTimeouts(const Timeouts& timeouts) override;
    uint32_t DiscardInput() override;
    uint32_t ReadLatencyMs() const override { return 0; }

  private:
    struct Pending {
        int64_t atMs;
        uint8_t byte;
    };

    bool Usable() const;
    bool Timed() const { return options_.wireSpeed && serial_ && line_.baudRate > 0; }
    // Line time of `bytes` bytes in microseconds at the current settings.
    int64_t WireUs(int64_t bytes) const;
    void Collect();

    Controller& controller_;
    LinkOptions options_;
    bool serial_;
    bool open_ = false;
    bool stale_ = false;
    LineSettings line_;
    Timeouts timeouts_{};
    int64_t now_ = 0;
    std::deque<Pending> input_;
};

}  // namespace fwburn::sim

#include "tests/sim/sim_test_support.hpp"

#include <algorithm>

#include "sim/crc.hpp"

namespace fwburn::sim::test {

Config MakeConfig(const std::string& model, uint32_t imageLength, Faults faults) {
    Config c;
    c.model = model;
    c.imageLength = imageLength;
    c.faults = std::move(faults);
    return c;
}

Bytes MakeImage(size_t length) {
    Bytes out(length);
    uint32_t x = 0x12345678;
    for (uint8_t& b : out) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

Bytes BlockFrame(uint8_t number, const Bytes& data) {
    const size_t n = data.size();
    const uint16_t crc = Crc16Xmodem(data.data(), n);
    Bytes f(n + 5);
    f[0] = 0x02;
    f[1] = number;
    f[2] = static_cast<uint8_t>(255 - number);
    std::copy(data.begin(), data.end(), f.begin() + 3);
    f[n + 3] = static_cast<uint8_t>(crc >> 8);
    f[n + 4] = static_cast<uint8_t>(crc & 0xFF);
    return f;
}

Bytes BlockData(const Bytes& image, size_t sent, size_t blockSize, uint32_t index) {
    Bytes d(blockSize, 0x1A);
    const size_t from = std::min<size_t>((index - 1) * blockSize, sent);
    const size_t to = std::min(from + blockSize, sent);
    std::copy(image.begin() + static_cast<long>(from), image.begin() + static_cast<long>(to),
              d.begin());
    return d;
}

int ReplyByte(const std::string& reply, size_t n) {
    if (reply.size() < 2 * n + 3) {
        return -1;
    }
    return std::stoi(reply.substr(2 * n + 1, 2), nullptr, 16);
}

Bench::Bench(Config config, LinkOptions options)
    : controller(std::move(config)), link(controller, options) {
    link.Open();
    link.SetLineSettings(kAppLine);
    link.SetTimeouts(kCommandTimeouts);
}

uint32_t Bench::Send(std::string_view text) {
    return link.Write(reinterpret_cast<const uint8_t*>(text.data()),
                      static_cast<uint32_t>(text.size()));
}

std::string Bench::Read(uint32_t length) {
    std::string out(length, '\0');
    out.resize(link.Read(reinterpret_cast<uint8_t*>(out.data()), length));
    return out;
}

std::string Bench::Ask(std::string_view request, uint32_t replyLength) {
    link.DiscardInput();
    Send(request);
    return Read(replyLength);
}

void Bench::EnterTransfer() {
    Ask("ID", 3);
    for (uint32_t i = 0; i < controller.expected().eraseSteps; ++i) {
        Ask("ERASE", 1);
    }
    Ask("\x04", 1);
    Ask("UPDATE", 1);
    link.SetLineSettings(kTransferLine);
}

void Bench::SendBlocks(const Bytes& image, uint32_t n) {
    const size_t sent = std::min<size_t>(image.size(), controller.expected().sentBytes);
    for (uint32_t i = 1; i <= n; ++i) {
        const Bytes data = BlockData(image, sent, controller.model().blockSize, i);
        Ask(ToText(BlockFrame(static_cast<uint8_t>(i), data)), 1);
    }
}

namespace {

// Wake frames and the mode query, as the host starts every pass; returns the reported mode.
int Handshake(Bench& bench, const std::string& modeQuery) {
    bench.link.SetLineSettings(kAppLine);
    bench.link.SetTimeouts(kWakeTimeouts);
    for (int i = 0; i < 5; ++i) {
        bench.Send(":007F81\r\n");
        bench.Read(11);
    }
    for (int i = 0; i < 5; ++i) {
        bench.Read(11);
    }
    bench.link.SetTimeouts(kCommandTimeouts);
    return ReplyByte(bench.Ask(modeQuery, 19), 4);
}

}  // namespace

std::string RunUpdate(Bench& bench, const Bytes& image, const UpdatePlan& plan) {
    const std::string t = plan.analog ? "5B" : "59";
    const std::string mode = plan.analog ? ":0064015B013F\r\n" : ":006401590141\r\n";
    const std::string id = plan.analog ? ":0064015B4944B3\r\n" : ":006401594944B5\r\n";
    const std::string update =
        plan.analog ? ":0064015B4552415345D0\r\n" : ":006401594552415345D2\r\n";
    const std::string ack = plan.analog ? ":0064015B063A\r\n" : ":00640159063C\r\n";
    SimLink& link = bench.link;

    if (Handshake(bench, mode) != 5) {
        return "no application mode";
    }
    if (ReplyByte(bench.Ask(id, 19), 4) != 0x06) {
        return "model ID refused";
    }
    const std::string reply = bench.Ask(update, 19);
    if (plan.reconnect == Reconnect::kPowerCycle) {
        if (!reply.empty()) {
            return "a power-cycle model answered the update request";
        }
    } else if (ReplyByte(reply, 4) != 0x06) {
        return "update request refused";
    } else {
        bench.Send(ack);
    }
    switch (plan.reconnect) {
        case Reconnect::kByItself:
            link.AdvanceMs(1000);
            break;
        case Reconnect::kReplug:
        case Reconnect::kPowerCycle:
            link.Close();
            plan.reconnect == Reconnect::kReplug ? link.Replug() : link.PowerCycle();
            link.AdvanceMs(2000);
            if (!link.Open()) {
                return "reopen failed";
            }
            break;
    }
    if (Handshake(bench, mode) != 6) {
        return "no boot mode after the reconnect";
    }
    if (bench.Ask("ID", 3).substr(0, 1) != "\x06") {
        return "ID refused";
    }
    for (uint32_t i = 0; i < plan.eraseSteps; ++i) {
        if (bench.Ask("ERASE", 1) != "\x06") {
            return "ERASE step " + std::to_string(i) + " refused";
        }
    }
    if (bench.Ask("\x04", 1) != "\x06" || bench.Ask("UPDATE", 1) != "\x06") {
        return "end of erase or UPDATE refused";
    }
    link.SetLineSettings(kTransferLine);
    const uint32_t blocks = (plan.sentBytes + plan.blockSize - 1) / plan.blockSize;
    for (uint32_t i = 1; i <= blocks; ++i) {
        const Bytes data = BlockData(image, plan.sentBytes, plan.blockSize, i);
        if (bench.Ask(ToText(BlockFrame(static_cast<uint8_t>(i), data)), 1) != "\x06") {
            return "block " + std::to_string(i) + " refused";
        }
    }
    if (bench.Ask("\x04", 1) != "\x06") {
        return "end of transfer refused";
    }
    return "";
}

}  // namespace fwburn::sim::test

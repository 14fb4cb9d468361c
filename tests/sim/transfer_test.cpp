// Block transfer: flash contents, block checks, block faults and the loss of the link.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/sim/sim_test_support.hpp"

namespace fwburn::sim {
namespace {

using test::BlockFrame;
using test::Bytes;
using test::MakeConfig;
using test::MakeImage;
using test::ToText;

// A controller already in the bootloader, erased and waiting for the first block.
struct Transfer : test::Bench {
    explicit Transfer(const char* model, uint32_t length, Faults faults = {})
        : Bench(Boot(model, length, std::move(faults))), image(MakeImage(length)) {
        EnterTransfer();
    }
    static Config Boot(const char* model, uint32_t length, Faults faults) {
        faults.bootAtPowerOn = true;
        return MakeConfig(model, length, std::move(faults));
    }
    // Data field of block i (from 1), filled as a correct host fills the last one.
    Bytes Data(uint32_t i) const {
        return test::BlockData(image, controller.expected().sentBytes, controller.model().blockSize,
                               i);
    }
    std::string Block(uint32_t i) { return Ask(ToText(BlockFrame(uint8_t(i), Data(i))), 1); }
    Bytes image;
};

TEST(SimTransfer, FlashHoldsWhatTheBlocksCarried) {
    const struct {
        const char* model;
        uint32_t length;
        uint32_t blocks;
        uint32_t sent;
    } cases[] = {
        {"MN6", 300, 3, 300},                // 44 image bytes and 84 fill bytes in the last block
        {"MN6", 128 * 300, 300, 128 * 300},  // numbers run 1..255, 0, 1..44; no fill
        {"ZL500", 4096 + 300, 2, 300},       // the last 4 KiB stay behind
        {"HU", 1000, 4, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + std::to_string(c.length));
        Transfer t(c.model, c.length);
        ASSERT_EQ(t.controller.expected().blocks, c.blocks);
        t.SendBlocks(t.image, c.blocks);
        EXPECT_EQ(t.Ask("\x04", 1), "\x06");
        EXPECT_EQ(t.controller.violations(), std::vector<std::string>{});
        EXPECT_TRUE(t.controller.transferComplete());
        EXPECT_EQ(t.controller.state(), State::kTransferDone);
        Bytes want(t.image.begin(), t.image.begin() + c.sent);
        want.resize(c.blocks * t.controller.model().blockSize, 0x1A);
        EXPECT_EQ(t.controller.flash(), want);
    }
}

TEST(SimTransfer, ResendOfTheLastBlockIsAcknowledgedAndWrittenOnce) {
    Transfer t("MN6", 300);
    EXPECT_EQ(t.Block(1), "\x06");
    EXPECT_EQ(t.Block(1), "\x06");
    EXPECT_EQ(t.Block(2), "\x06");
    EXPECT_EQ(t.controller.blocksTaken(), 2u);
    EXPECT_EQ(t.controller.flash().size(), 256u);
    EXPECT_EQ(t.controller.violationCount(), 0u);
}

TEST(SimTransfer, RecordsEveryBlockThatACorrectHostWouldNotSend) {
    using Step = std::function<std::string(Transfer&)>;
    auto frame = [](Transfer& t, uint8_t n, Bytes data, int patch, uint8_t mask) {
        Bytes f = BlockFrame(n, data);
        f[static_cast<size_t>(patch < 0 ? static_cast<int>(f.size()) + patch : patch)] ^= mask;
        return t.Ask(ToText(f), 1);
    };
    const struct {
        const char* name;
        const char* model;
        uint32_t length;
        Step step;
        std::string reply;
        const char* violation;
    } cases[] = {
        {"number", "MN6", 300,
         [](Transfer& t) { return t.Ask(ToText(BlockFrame(2, t.Data(2))), 1); }, "\x15",
         "block number 2, expected 1"},
        {"complement", "MN6", 300, [&](Transfer& t) { return frame(t, 1, t.Data(1), 2, 0x10); },
         "\x15", "complement byte 0xEE, expected 0xFE"},
        {"CRC", "MN6", 300, [&](Transfer& t) { return frame(t, 1, t.Data(1), -1, 0x01); }, "\x15",
         "block number 1: CRC"},
        {"CRC high byte", "MN6", 300, [&](Transfer& t) { return frame(t, 1, t.Data(1), -2, 0x01); },
         "\x15", "block number 1: CRC"},
        {"number 0 first", "MN6", 300,
         [](Transfer& t) { return t.Ask(ToText(BlockFrame(0, t.Data(1))), 1); }, "\x15",
         "block number 0, expected 1"},
        {"resend differs", "MN6", 300,
         [&](Transfer& t) {
             t.Block(1);
             Bytes other = t.Data(1);
             other[0] ^= 0xFF;
             return t.Ask(ToText(BlockFrame(1, other)), 1);
         },
         "\x06", "resent with other data"},
        {"beyond", "MN6", 128,
         [](Transfer& t) {
             t.Block(1);
             return t.Ask(ToText(BlockFrame(2, Bytes(128, 0x1A))), 1);
         },
         "\x06", "block 2 is beyond the image (1 blocks expected)"},
        {"fill", "MN6", 100,
         [](Transfer& t) {
             Bytes d = t.Data(1);
             d[120] = 0;
             return t.Ask(ToText(BlockFrame(1, d)), 1);
         },
         "\x06", "1 of 28 fill bytes are not 0x1A (first at offset 120: 0x00)"},
        {"early EOT", "MN6", 300,
         [](Transfer& t) {
             t.Block(1);
             return t.Ask("\x04", 1);
         },
         "\x06", "EOT after 1 of 3 blocks"},
        {"EOT a block short", "MN6", 300,
         [](Transfer& t) {
             t.SendBlocks(t.image, 2);
             return t.Ask("\x04", 1);
         },
         "\x06", "EOT after 2 of 3 blocks"},
        {"block after EOT", "MN6", 300,
         [](Transfer& t) {
             t.SendBlocks(t.image, 3);
             t.Ask("\x04", 1);
             return t.Block(3);
         },
         "", "unexpected byte(s) after the transfer"},
        {"line", "MN6", 300,
         [](Transfer& t) {
             t.link.SetLineSettings(test::kAppLine);
             return t.Block(1);
         },
         "\x06", "block number 1 at 9600 7E1, expected 115200 8N1"},
        {"line controls", "MN6", 300,
         [](Transfer& t) {
             t.link.SetLineSettings({115200, 8, kNoParity, kOneStopBit, 1, 1});
             return t.Block(1);
         },
         "\x06", "at 115200 8N1 DTR control 1 RTS control 1, expected 115200 8N1"},
        {"short frame", "HU", 1000,
         [](Transfer& t) {
             t.Ask(ToText(BlockFrame(1, Bytes(128, 1))), 1);  // no reply: waits for the rest
             return t.Block(1);
         },
         "\x06", "incomplete block frame: 133 of 261 bytes"},
        {"long frame", "MN6", 300,
         [](Transfer& t) { return t.Ask(ToText(BlockFrame(1, Bytes(256, 1))), 1); }, "\x15",
         "block number 1: CRC"},
        {"junk", "MN6", 300, [](Transfer& t) { return t.Ask("ID", 1); }, "",
         "2 unexpected byte(s) while waiting for a block"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Transfer t(c.model, c.length);
        ASSERT_EQ(t.controller.violationCount(), 0u);
        EXPECT_EQ(c.step(t), c.reply);
        ASSERT_GE(t.controller.violationCount(), 1u);
        EXPECT_NE(t.controller.violations()[0].find(c.violation), std::string::npos)
            << t.controller.violations()[0];
    }
    Transfer t("MN6", 300);
    t.Ask(ToText(BlockFrame(1, Bytes(256, 1))), 1);
    ASSERT_EQ(t.controller.violationCount(), 2u);
    EXPECT_NE(t.controller.violations()[1].find("followed by 128 more bytes"), std::string::npos);
}

Faults BlockFault(FaultKind kind, uint32_t block, int times) {
    Faults f;
    ReplyFault r{Phase::kBlock, kind};
    r.skip = static_cast<int>(block) - 1;
    r.times = times;
    f.replies.push_back(r);
    return f;
}

TEST(SimTransfer, NakOrGarbageForTheKthBlockThenItIsTaken) {
    for (FaultKind kind : {FaultKind::kNak, FaultKind::kGarbage}) {
        Transfer t("MN6", 300, BlockFault(kind, 2, 2));
        const std::string bad = kind == FaultKind::kNak ? "\x15" : "~";
        std::vector<std::string> replies;
        for (uint32_t i : {1, 2, 2, 2, 3}) {
            replies.push_back(t.Block(i));
        }
        EXPECT_EQ(replies, (std::vector<std::string>{"\x06", bad, bad, "\x06", "\x06"}));
        EXPECT_EQ(t.Ask("\x04", 1), "\x06");
        EXPECT_TRUE(t.controller.transferComplete());
        EXPECT_EQ(t.controller.flash().size(), 3 * 128u);
        EXPECT_EQ(t.controller.violationCount(), 0u);
    }
}

TEST(SimTransfer, LateAckArrivesAfterTheHostsReadTimeout) {
    Transfer t("MN6", 300, BlockFault(FaultKind::kLate, 2, 1));
    t.Block(1);
    const int64_t sentAt = t.link.NowMs();
    EXPECT_EQ(t.Block(2), "");  // nothing within 3000 ms
    EXPECT_EQ(t.link.NowMs(), sentAt + 3000);
    EXPECT_EQ(t.Block(2), "\x06");  // the resend is acknowledged at once
    EXPECT_EQ(t.Read(1), "\x06");   // and the late ACK still comes
    EXPECT_EQ(t.link.NowMs(), sentAt + 5 + 5 + 3500);
    EXPECT_EQ(t.controller.blocksTaken(), 2u);
    EXPECT_EQ(t.controller.violationCount(), 0u);

    // However long the fault lasts, it is block 2's alone.
    Transfer forever("MN6", 300, BlockFault(FaultKind::kLate, 2, kForever));
    forever.Block(1);
    EXPECT_EQ(forever.Block(2), "");
    EXPECT_EQ(forever.Read(1), "\x06");
    EXPECT_EQ(forever.Block(3), "\x06");
}

TEST(SimTransfer, LostLinkFailsEveryCallAtOnce) {
    Faults f;
    f.linkLossAfterBlock = 2;
    Transfer t("MN6", 300, f);
    EXPECT_EQ(t.Block(1), "\x06");
    const Bytes frame = BlockFrame(2, t.Data(2));
    EXPECT_EQ(t.link.Write(frame.data(), static_cast<uint32_t>(frame.size())), frame.size());
    const int64_t at = t.link.NowMs();
    uint8_t byte = 0;
    EXPECT_EQ(t.link.Read(&byte, 1), 0u);
    EXPECT_EQ(t.link.Write(frame.data(), static_cast<uint32_t>(frame.size())), 0u);
    EXPECT_EQ(t.link.NowMs(), at);
    EXPECT_EQ(t.controller.blocksTaken(), 2u);
    t.link.Close();
    EXPECT_FALSE(t.link.Open());
    t.link.Reconnect();
    ASSERT_TRUE(t.link.Open());
    t.link.SetTimeouts(test::kCommandTimeouts);
    EXPECT_EQ(t.Block(3), "\x06");
}

TEST(SimTransfer, AnInterruptedTransferLeavesTheBootloaderInCharge) {
    for (uint32_t blocks : {0u, 1u, 2u, 3u}) {
        SCOPED_TRACE(blocks);
        test::Bench b(MakeConfig("MN6", 300));
        b.Ask(":006401590141\r\n", 19);
        b.Ask(":006401594944B5\r\n", 19);
        b.Ask(":006401594552415345D2\r\n", 19);
        b.Send(":00640159063C\r\n");
        b.link.AdvanceMs(1000);
        if (blocks > 0) {
            b.EnterTransfer();
            b.SendBlocks(MakeImage(300), blocks);
            b.Ask("\x04", 1);
            // A new job starts with the handshake at the application-mode line.
            b.link.SetLineSettings(test::kAppLine);
            EXPECT_EQ(b.Ask(":006401590141\r\n", 19), ":006401590600003C\r\n");
        }
        b.link.PowerCycle();
        // Nothing erased or everything written: the application runs; otherwise it cannot.
        const bool partial = blocks == 1 || blocks == 2;
        EXPECT_EQ(b.controller.state(), partial ? State::kBootloader : State::kApplication);
        EXPECT_EQ(b.controller.violationCount(), partial ? 1u : 0u);  // the early EOT
    }
}

}  // namespace
}  // namespace fwburn::sim

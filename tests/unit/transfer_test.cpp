// The image transfer: frames, numbering, fill, geometry, retries, progress, and whole images
// compared byte for byte with what a receiver reassembled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "protocol/boot_commands.hpp"
#include "protocol/transfer.hpp"
#include "tests/support/block_receiver.hpp"
#include "tests/support/command_case.hpp"

namespace fwburn {
namespace {

using test::BlockReceiver;
using test::Bytes;
using test::Call;
using test::FakeDevice;
using test::Reaction;

Bytes RandomImage(size_t length, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes image(length);
    for (auto& b : image) {
        b = static_cast<uint8_t>(rng());
    }
    return image;
}

TEST(Crc, CheckValueAndAgreementWithABitwiseCrc) {
    const std::string check = "123456789";
    EXPECT_EQ(CRC(reinterpret_cast<const uint8_t*>(check.data()), 9), 0x31C3u);
    EXPECT_EQ(CRC(nullptr, 0), 0u);
    const Bytes zeros(256, 0);
    EXPECT_EQ(CRC(zeros.data(), 256), 0u);
    const Bytes data = RandomImage(300, 7);
    for (uint32_t n = 0; n <= 300; n += 13) {
        const uint32_t crc = CRC(data.data(), n);
        EXPECT_EQ(crc, test::BitwiseCrc16(data.data(), n)) << n;
        EXPECT_EQ(crc >> 16, 0u);
    }
}

TEST(FileRead, NeverReadsPastTheImage) {
    const Bytes image = RandomImage(300, 1);
    ImageReader reader(ImageSpan{image.data(), 300});
    uint8_t buffer[256];
    EXPECT_EQ(reader.FileRead(buffer, 256), 256u);
    EXPECT_EQ(std::memcmp(buffer, image.data(), 256), 0);
    EXPECT_EQ(reader.FileRead(buffer, 256), 44u);
    EXPECT_EQ(std::memcmp(buffer, image.data() + 256, 44), 0);
    EXPECT_EQ(reader.FileRead(buffer, 256), 0u);
    EXPECT_EQ(reader.FileRead(buffer, 1), 0u);
    // A span without data reads nothing, whatever length it claims.
    ImageReader none(ImageSpan{nullptr, 100});
    EXPECT_EQ(none.FileRead(buffer, 1), 0u);
    // Two readers of one image keep their own positions.
    ImageReader a(ImageSpan{image.data(), 300});
    ImageReader b(ImageSpan{image.data(), 300});
    uint8_t one = 0;
    ASSERT_EQ(a.FileRead(buffer, 10), 10u);
    ASSERT_EQ(b.FileRead(&one, 1), 1u);
    EXPECT_EQ(one, image[0]);
}

// A whole transfer against a receiver that acknowledges everything.
// The figures are the transfer's own unless the test passes some it reads from its policy.
struct Transfer {
    FakeDevice device;
    BlockReceiver receiver;
    Figures ownFigures;
    Figures& figures;
    std::vector<int> progressAtWrites;
    uint8_t result = 0xFF;

    Transfer(const char* model, const Bytes& image, size_t blockSize,
             std::function<Reaction(size_t, int)> policy = nullptr, Figures* shared = nullptr)
        : receiver(blockSize), figures(shared != nullptr ? *shared : ownFigures) {
        receiver.policy = std::move(policy);
        device.fallback = [this](const Bytes& w) {
            progressAtWrites.push_back(figures.progress);
            return receiver.OnWrite(w);
        };
        figures.flashStatus = 1;
        Progress progress(figures);
        Channel channel{device, progress};
        result = SendFW(channel, test::Row(model),
                        ImageSpan{image.data(), static_cast<uint32_t>(image.size())});
    }
};

struct GeometryCase {
    const char* model;
    uint32_t length;
    size_t blockSize;
    size_t blocks;
    uint32_t sent;    // image bytes the receiver must hold, in order, from the first
    size_t lastFill;  // 0x1A bytes closing the last block
};

const GeometryCase kGeometry[] = {
    {"ZL500-AIO", 11056, 256, 44, 11056, 208}, {"30KT5-AIO", 12288, 256, 48, 12288, 0},
    {"HU", 16385, 256, 65, 16385, 255},        {"HU-N", 1000, 256, 4, 1000, 24},
    {"ZL600", 4096 + 300, 256, 2, 300, 212},   {"RV6", 4096 + 512, 256, 2, 512, 0},
    {"FYB-W", 4097, 256, 1, 1, 255},           {"HU26", 1000, 128, 8, 1000, 24},
    {"RV7-J", 128 * 40, 128, 40, 128 * 40, 0}, {"MN6", 129, 128, 2, 129, 127},
};

class Geometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(Geometry, FramesFillAndReassembly) {
    const GeometryCase& c = GetParam();
    const Bytes image = RandomImage(c.length, c.length);
    Transfer t(c.model, image, c.blockSize);
    ASSERT_EQ(t.result, 0);
    EXPECT_TRUE(t.receiver.violations.empty()) << t.receiver.violations[0];
    ASSERT_EQ(t.receiver.blocks.size(), c.blocks);
    const Bytes received = t.receiver.Received();
    ASSERT_EQ(received.size(), c.blocks * c.blockSize);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + c.sent, received.begin()));
    for (size_t i = c.sent; i < received.size(); ++i) {
        EXPECT_EQ(received[i], 0x1A) << i;
    }
    EXPECT_EQ(received.size() - c.sent, c.lastFill);
    EXPECT_EQ(t.device.Writes().back(), std::string(1, '\x04'));
    EXPECT_EQ(t.figures.flashStatus, 2);
    EXPECT_EQ(t.figures.progress, 100);
}

INSTANTIATE_TEST_SUITE_P(Transfer, Geometry, ::testing::ValuesIn(kGeometry),
                         [](const auto& p) { return test::TestName(p.param.model); });

TEST(Transfer, AnalogModuleImageFrameByFrame) {
    const Bytes image = RandomImage(11056, 3);
    Transfer t("ZL500-AIO", image, 256);
    ASSERT_EQ(t.result, 0);
    const auto writes = t.device.CallsOf(Call::kWrite);
    ASSERT_EQ(writes.size(), 45u);
    for (size_t i = 0; i < 44; ++i) {
        const Bytes& f = writes[i].bytes;
        ASSERT_EQ(f.size(), 261u);
        EXPECT_EQ(f[0], 0x02);
        EXPECT_EQ(f[1], i + 1);
        EXPECT_EQ(f[2], 255 - (i + 1));
        const uint16_t crc = test::BitwiseCrc16(f.data() + 3, 256);
        EXPECT_EQ(f[259], crc >> 8);
        EXPECT_EQ(f[260], crc & 0xFF);
    }
    // Progress: 0 before the first block, then acknowledged * 100 / 45, 100 only after the EOT.
    std::vector<int> want;
    for (int acked = 0; acked <= 44; ++acked) {
        want.push_back(acked * 100 / 45);
    }
    EXPECT_EQ(t.progressAtWrites, want);
    EXPECT_EQ(want[1], 2);
    EXPECT_EQ(want[44], 97);
}

TEST(Transfer, MainCpuImageWrapsBlockNumbersAndKeepsItsTail) {
    const Bytes image = RandomImage(2076672, 11);
    Transfer t("ZL500", image, 256);
    ASSERT_EQ(t.result, 0);
    ASSERT_EQ(t.receiver.blocks.size(), 8096u);
    const auto writes = t.device.CallsOf(Call::kWrite);
    EXPECT_EQ(writes[254].bytes[1], 255);
    EXPECT_EQ(writes[255].bytes[1], 0);
    EXPECT_EQ(writes[255].bytes[2], 255);
    EXPECT_EQ(writes[256].bytes[1], 1);
    EXPECT_EQ(writes[8095].bytes[1], 8096 % 256);
    // The last frame carries image bytes 2,072,320 to 2,072,575; the last 4096 never go out.
    EXPECT_TRUE(std::equal(writes[8095].bytes.begin() + 3, writes[8095].bytes.begin() + 259,
                           image.begin() + 2072320));
    const Bytes received = t.receiver.Received();
    ASSERT_EQ(received.size(), 2072576u);
    EXPECT_TRUE(std::equal(received.begin(), received.end(), image.begin()));
    EXPECT_EQ(t.progressAtWrites.back(), 99);  // as the EOT goes out
}

TEST(Transfer, NakTwiceOnTheThirdBlock) {
    const Bytes image = RandomImage(128 * 5, 5);
    std::vector<int> errAtWrites;
    Figures figures;
    Transfer t(
        "MN6", image, 128,
        [&](size_t index, int arrival) {
            errAtWrites.push_back(figures.errCounter);
            if (index == 2 && arrival < 2) {
                return BlockReceiver::Answer(0x15, 0);
            }
            return BlockReceiver::Answer(0x06, 0);
        },
        &figures);
    ASSERT_EQ(t.result, 0);
    const auto writes = t.device.CallsOf(Call::kWrite);
    ASSERT_EQ(writes.size(), 8u);  // 5 blocks, two resends, EOT
    EXPECT_EQ(writes[2].bytes, writes[3].bytes);
    EXPECT_EQ(writes[3].bytes, writes[4].bytes);
    EXPECT_EQ(writes[5].bytes[1], 4);
    EXPECT_EQ(errAtWrites, (std::vector<int>{0, 0, 0, 1, 2, 0, 0}));
    EXPECT_EQ(figures.totalErrCounter, 2);
    EXPECT_EQ(t.receiver.Received(), image);
}

struct FailureCase {
    const char* name;
    Reaction reply;  // the answer to every send of block index 3
};

TEST(Transfer, ABlockThatNeverGetsItsAckEndsWithoutEot) {
    const FailureCase cases[] = {
        {"silence", test::Silence()},
        {"NAK", BlockReceiver::Answer(0x15, 0)},
        {"cancel byte", BlockReceiver::Answer(0x18, 0)},
        {"garbage", test::ReplyBytes({0x41})},
        {"short write", test::ShortWrite(100)},
    };
    for (const FailureCase& c : cases) {
        const Bytes image = RandomImage(256 * 6, 9);
        Transfer t("HU", image, 256, [&](size_t index, int) {
            return index == 3 ? c.reply : BlockReceiver::Answer(0x06, 0);
        });
        EXPECT_EQ(t.result, 16) << c.name;
        const auto writes = t.device.Writes();
        EXPECT_EQ(writes.size(), 3u + 6u) << c.name;
        EXPECT_NE(writes.back(), std::string(1, '\x04')) << c.name;
        EXPECT_EQ(t.figures.flashStatus, 2) << c.name;
        EXPECT_EQ(t.figures.progress, 3 * 100 / 7) << c.name;  // 6 blocks: divisor 7
        EXPECT_EQ(t.figures.errCounter, 6) << c.name;
        EXPECT_EQ(t.figures.totalErrCounter, 6) << c.name;
    }
}

TEST(Transfer, UnacknowledgedEotFails) {
    const Bytes image = RandomImage(300, 2);
    FakeDevice dev;
    BlockReceiver receiver(128);
    dev.fallback = [&](const Bytes& w) {
        if (w.size() == 1) {
            return BlockReceiver::Answer(0x15, 0);
        }
        return receiver.OnWrite(w);
    };
    Figures figures;
    Progress progress(figures);
    Channel channel{dev, progress};
    EXPECT_EQ(SendFW(channel, test::Row("PB"), ImageSpan{image.data(), 300}), 16);
    EXPECT_EQ(dev.Writes().size(), 3u + 6u);
    EXPECT_EQ(figures.progress, 3 * 100 / 4);
}

// The transfer runs on the 3000 ms command time-outs, set once before the first frame: an ACK
// 2999 ms after a frame is taken, one at 3001 ms is too late, and a silent or unwritable frame
// costs 3000 ms an attempt. Only the last block's guard (22 ms for a 133-byte frame, a whole
// time-out once a read has come back empty) sets others.
TEST(Transfer, CommandTimeoutsPaceEveryAttempt) {
    const Timeouts command{0xFFFFFFFF, 0, 3000, 0, 3000};
    struct Case {
        const char* name;
        std::function<Reaction(size_t, int)> firstBlock;  // its answer, by arrival
        uint8_t result;
        size_t firstBlockSends;
        int totalErrCounter;
        int64_t endMs;
        int64_t guardMs;
    };
    const Case cases[] = {
        {"ACK just inside", [](size_t, int) { return BlockReceiver::Answer(0x06, 2999); }, 0, 1, 0,
         2999, 22},
        {"ACK just too late",
         [](size_t, int arrival) {
             return arrival == 0 ? BlockReceiver::Answer(0x06, 3001) : test::Silence();
         },
         0, 2, 1, 3001, 3000},
        {"silence", [](size_t, int) { return test::Silence(); }, 16, 6, 6, 18000, 0},
        {"frame never written whole", [](size_t, int) { return test::ShortWrite(100); }, 16, 6, 6,
         18000, 0},
        // Each kind of failure has a budget of its own: five of each still leave an eleventh send.
        {"five unwritten, five silent, then ACK",
         [](size_t, int arrival) {
             return arrival < 5    ? test::ShortWrite(100)
                    : arrival < 10 ? test::Silence()
                                   : BlockReceiver::Answer(0x06, 0);
         },
         0, 11, 10, 30000, 3000},
    };
    for (const Case& c : cases) {
        const Bytes image = RandomImage(256, 4);
        Transfer t("MN6", image, 128, [&](size_t index, int arrival) {
            return index == 0 ? c.firstBlock(index, arrival) : BlockReceiver::Answer(0x06, 0);
        });
        EXPECT_EQ(t.result, c.result) << c.name;
        const auto set = t.device.CallsOf(Call::kSetTimeouts);
        const int64_t guardMs = c.guardMs;
        ASSERT_EQ(set.size(), guardMs != 0 ? 3u : 1u) << c.name;
        EXPECT_EQ(set[0].timeouts, command) << c.name;
        if (guardMs != 0) {
            EXPECT_EQ(set[1].timeouts,
                      (Timeouts{0xFFFFFFFF, 0, static_cast<uint32_t>(guardMs), 0, 3000}))
                << c.name;
            EXPECT_EQ(set[2].timeouts, command) << c.name;
        }
        EXPECT_EQ(t.device.calls().front().kind, Call::kSetTimeouts) << c.name;
        const auto writes = t.device.CallsOf(Call::kWrite);
        const size_t sends =
            static_cast<size_t>(std::count_if(writes.begin(), writes.end(), [](const Call& w) {
                return w.bytes.size() == 133 && w.bytes[1] == 1;
            }));
        EXPECT_EQ(sends, c.firstBlockSends) << c.name;
        EXPECT_EQ(t.figures.totalErrCounter, c.totalErrCounter) << c.name;
        EXPECT_EQ(t.device.nowMs(), c.endMs + guardMs) << c.name;
    }
}

// A late ACK (after the host's 3 s time-out) for one block, with the resend acknowledged too and a
// later block refused once: however the late bytes fall, the host ends with the exact image or an
// honest failure, never a success with a block missing.
TEST(Transfer, LateAcknowledgementNeverSkipsABlock) {
    const Bytes image = RandomImage(256 * 12, 21);
    int successes = 0;
    for (int64_t lateMs : {3001, 3100, 3500, 5999, 6000, 6001, 9000, 20000}) {
        for (int64_t resendAckMs : {0, 10, 500, 2999, 3100}) {
            for (size_t nakBlock : {size_t{5}, size_t{6}, size_t{7}}) {
                Transfer t("HU", image, 256, [&](size_t index, int arrival) {
                    if (index == 4 && arrival == 0) {
                        return BlockReceiver::Answer(0x06, lateMs);
                    }
                    if (index == 4) {
                        return BlockReceiver::Answer(0x06, resendAckMs);
                    }
                    if (index == nakBlock && arrival == 0) {
                        return BlockReceiver::Answer(0x15, 0);
                    }
                    return BlockReceiver::Answer(0x06, 0);
                });
                const std::string where = std::to_string(lateMs) + "/" +
                                          std::to_string(resendAckMs) + "/" +
                                          std::to_string(nakBlock);
                ASSERT_TRUE(t.result == 0 || t.result == 16) << where;
                if (t.result == 0) {
                    ++successes;
                    EXPECT_EQ(t.receiver.Received(), image) << where;
                    EXPECT_TRUE(t.receiver.eotSeen) << where;
                }
                EXPECT_TRUE(t.receiver.violations.empty()) << where;
            }
        }
    }
    EXPECT_GT(successes, 0);
}

TEST(Transfer, LastBlockGuardFollowsTheLink) {
    struct Case {
        const char* model;
        uint32_t frame;
        uint32_t latencyMs;
        uint32_t guardMs;
    };
    const Case cases[] = {
        {"ZL500-AIO", 261, 16, 30},  // the controller's own USB port: no line
        {"MN6", 133, 0, 12 + 10},    // 11.5 ms of wire at 115200, rounded up, and the turn-around
        {"30KT5-AIO", 261, 0, 23 + 10},
        {"30KT5-AIO", 261, 16, 23 + 10 + 16},  // an adapter's default latency timer
        {"30KT5-AIO", 261, 67, 100},           // never more than 100 ms
        {"30KT5-AIO", 261, 255, 100},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LastBlockGuardMs(test::Row(c.model), c.frame, c.latencyMs), c.guardMs)
            << c.model << " " << c.latencyMs;
    }
}

// Two replies to one send of the last block: the first an ACK, the second whatever the controller
// meant (or a stray repeat). The first can be a stale ACK that stands for a NAK, so it stands only
// when nothing follows within the guard; otherwise the block goes again under its budget. However
// the bytes fall, the host ends with the whole image or fails: never a success with a block
// missing, and a clean last block costs one quiet read and nothing on the wire.
TEST(Transfer, ASecondReplyToTheLastBlockIsNeverTakenForItsAcknowledgement) {
    constexpr uint8_t kAck = 0x06, kNak = 0x15;
    // A refusal (not taken by the receiver) with a stale ACK `staleMs` after the send.
    const auto refusedBehindStaleAck = [](int64_t staleMs, int64_t nakMs) {
        Reaction r = BlockReceiver::Answer(kNak, nakMs);
        r.arrivals.push_back({staleMs, {kAck}});
        return r;
    };
    struct Case {
        const char* name;
        const char* model;
        std::function<Reaction(int arrival)> last;  // the answer to each send of the last block
        uint8_t result;
        size_t lastSends;
        uint32_t surplus;
    };
    const Case cases[] = {
        {"clean", "MN6", [](int) { return BlockReceiver::Answer(kAck, 0); }, 0, 1, 0},
        {"stale ACK, the NAK inside the guard, every send", "MN6",
         [&](int) { return refusedBehindStaleAck(5, 15); }, 16, 6, 6},
        {"stale ACK, the NAK at the guard's last millisecond", "MN6",
         [&](int) { return refusedBehindStaleAck(5, 5 + 22); }, 16, 6, 6},
        {"stale ACK on the USB link, every send", "ZL500-AIO",
         [&](int) { return refusedBehindStaleAck(1, 1 + 30); }, 16, 6, 6},
        {"stale ACK once, then taken", "MN6",
         [&](int n) {
             return n == 0 ? refusedBehindStaleAck(5, 15) : BlockReceiver::Answer(kAck, 0);
         },
         0, 2, 1},
        {"a repeated ACK after the real one: sent again, taken once", "HU",
         [](int n) {
             Reaction r = BlockReceiver::Answer(kAck, 0);
             if (n == 0) {
                 r.arrivals.push_back({20, {kAck}});
             }
             return r;
         },
         0, 2, 1},
        {"a flood after the ACK", "HU",
         [](int n) {
             Reaction r = BlockReceiver::Answer(kAck, 0);
             if (n == 0) {
                 r.arrivals.push_back({1, Bytes(500, 0x55)});
             }
             return r;
         },
         0, 2, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t blockSize = std::string(c.model) == "MN6" ? 128 : 256;
        const Bytes image = RandomImage(blockSize * 3 - 7, 33);
        Transfer t(c.model, image, blockSize, [&](size_t index, int arrival) {
            return index == 2 ? c.last(arrival) : BlockReceiver::Answer(kAck, 0);
        });
        const auto writes = t.device.CallsOf(Call::kWrite);
        const size_t lastSends =
            static_cast<size_t>(std::count_if(writes.begin(), writes.end(), [](const Call& w) {
                return w.bytes.size() > 1 && w.bytes[1] == 3;
            }));
        EXPECT_EQ(t.result, c.result);
        EXPECT_EQ(lastSends, c.lastSends);
        EXPECT_EQ(t.figures.surplusBytes, c.surplus);
        if (t.result == 0) {
            EXPECT_EQ(t.receiver.Received().size(), 3 * blockSize);
            EXPECT_TRUE(std::equal(image.begin(), image.end(), t.receiver.Received().begin()));
            EXPECT_EQ(writes.back().bytes, Bytes{0x04});
        } else {
            EXPECT_NE(writes.back().bytes, Bytes{0x04});
            EXPECT_EQ(t.receiver.blocks.size(), 2u);
        }
        EXPECT_TRUE(t.receiver.violations.empty());
    }
}

// A request answered only after its read timed out: the resend is taken, and the first send's ACK
// comes later still, after the last block. It must never pass for the ACK of the EOT: a controller
// that does not answer the EOT has not confirmed the image.
TEST(Transfer, ALateAckNeverPassesForTheEotsAcknowledgement) {
    constexpr size_t kUpdateWord = 99;  // "UPDATE", sent on the same channel before the transfer
    constexpr size_t kNone = 98;
    struct Case {
        const char* name;
        size_t late;     // the block index, or kUpdateWord
        int64_t lateMs;  // after its first send
        bool eotAnswered;
        uint8_t result;
        size_t refusedOnce = kNone;  // a block whose first send is refused
    };
    const Case cases[] = {
        {"the last block, EOT silent", 2, 3500, false, 16},
        {"a middle block, EOT silent", 1, 3500, false, 16},
        {"the last block nearly two time-outs late, EOT silent", 2, 5999, false, 16},
        {"UPDATE, EOT silent", kUpdateWord, 3500, false, 16},
        // Past the late replies UPDATE listens for: the transfer must still expect it.
        {"UPDATE later than its late-reply wait, EOT silent", kUpdateWord, 6500, false, 16},
        // A refusal read in between does not make the late ACK any less owed.
        {"a middle block, the last refused once, EOT silent", 1, 3500, false, 16, 2},
        {"the last block, EOT answered", 2, 3500, true, 0},
        {"UPDATE, EOT answered", kUpdateWord, 3500, true, 0},
    };
    const Bytes update = {'U', 'P', 'D', 'A', 'T', 'E'};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes image = RandomImage(256 * 3 - 7, 41);
        FakeDevice device;
        BlockReceiver receiver(256);
        receiver.policy = [&](size_t index, int arrival) {
            if (index == c.refusedOnce && arrival == 0) {
                return BlockReceiver::Answer(0x15, 0);
            }
            return BlockReceiver::Answer(0x06, index == c.late && arrival == 0 ? c.lateMs : 0);
        };
        int updates = 0;
        device.fallback = [&](const Bytes& w) {
            if (w == update) {
                return BlockReceiver::Answer(
                    0x06, c.late == kUpdateWord && updates++ == 0 ? c.lateMs : 0);
            }
            if (w == Bytes{0x04}) {
                receiver.eotSeen = true;
                return c.eotAnswered ? BlockReceiver::Answer(0x06, 0) : test::Silence();
            }
            return receiver.OnWrite(w);
        };
        Figures figures;
        Progress progress(figures);
        Channel channel{device, progress};
        if (c.late == kUpdateWord) {
            ASSERT_EQ(SendUpdate(channel), 0);
        }
        const uint8_t result = SendFW(channel, test::Row("HU"),
                                      ImageSpan{image.data(), static_cast<uint32_t>(image.size())});
        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(receiver.eotSeen);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), receiver.Received().begin()));
        EXPECT_TRUE(receiver.violations.empty());
    }
}

}  // namespace
}  // namespace fwburn

// Wake and mode query against the scripted device: bytes, time-outs, line settings, counters,
// virtual time and the result of every path of the retry rule.
#include <gtest/gtest.h>

#include "tests/support/test_name.hpp"

#include <cctype>
#include <deque>
#include <string>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "protocol/handshake.hpp"
#include "tests/support/command_case.hpp"
#include "tests/support/fake_device.hpp"
#include "tests/support/replies.hpp"

namespace fwburn {
namespace {

using test::Call;
using test::Err;
using test::FakeDevice;
using test::Reaction;
using test::Reply;
using test::ShortWrite;
using test::Silence;
using test::Then;
using test::Times;

const std::string kModeQuery = ":006401590141\r\n";
const std::string kAnalogModeQuery = ":0064015B013F\r\n";
const Timeouts kWake{0xFFFFFFFF, 0, 200, 0, 200};
const LineSettings k9600_7E1{9600, 7, 2, 0, 0, 0};

class Handshake : public ::testing::Test {
  protected:
    void SetUp() override { Select("ZL500"); }
    void Select(const char* model) {
        row_ = FindModelRow(model);
        ASSERT_GE(row_, 0) << model;
    }
    void Dummy(Device& device) {
        Channel ch{device, progress_};
        DummyComm(ch, row_);
    }
    uint8_t Confirm(Device& device) {
        Channel ch{device, progress_};
        return ConfirmComm(ch, row_);
    }

    int row_ = -1;
    Figures figures;
    Progress progress_{figures};
};

TEST_F(Handshake, DummyCommWakesFiveTimesAndReadsTenWhateverTheAnswer) {
    for (bool answers : {false, true}) {
        FakeDevice dev;
        Select("MN6");
        if (answers) {
            dev.fallback = [](const test::Bytes&) { return Reply(":007F81\r\n00"); };
        }
        figures.errCounter = 3;
        figures.totalErrCounter = 7;
        Dummy(dev);
        EXPECT_EQ(dev.Writes(), std::vector<std::string>(5, ":007F81\r\n"));
        const auto reads = dev.CallsOf(Call::kRead);
        ASSERT_EQ(reads.size(), 10u);
        for (const Call& r : reads) {
            EXPECT_EQ(r.requested, 11u);
        }
        EXPECT_EQ(dev.nowMs(), answers ? 5 * 200 : 10 * 200);
        EXPECT_EQ(figures.errCounter, 3);
        EXPECT_EQ(figures.totalErrCounter, 7);
        // Line first, then time-outs, then the exchange.
        const auto& calls = dev.calls();
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ(calls[0].kind, Call::kGetLine);
        EXPECT_EQ(calls[1].kind, Call::kSetLine);
        EXPECT_EQ(calls[1].line, k9600_7E1);
        EXPECT_EQ(calls[2].kind, Call::kSetTimeouts);
        EXPECT_EQ(calls[2].timeouts, kWake);
    }
}

TEST_F(Handshake, UsbHandleGetsTimeoutsButNoLineSettings) {
    for (const char* usbModel : {"HU", "ZL500", "ZL500-AIO", "FYB-W"}) {
        Select(usbModel);
        FakeDevice dev;
        dev.serialPort = false;
        Dummy(dev);
        Confirm(dev);
        EXPECT_TRUE(dev.CallsOf(Call::kGetLine).empty()) << usbModel;
        EXPECT_TRUE(dev.CallsOf(Call::kSetLine).empty()) << usbModel;
        const auto t = dev.CallsOf(Call::kSetTimeouts);
        ASSERT_EQ(t.size(), 2u);
        EXPECT_EQ(t[0].timeouts, kWake);
        EXPECT_EQ(t[1].timeouts, test::kCommandTimeouts);
    }
}

TEST_F(Handshake, SerialModelsGet9600SevenEvenOneWithOtherFieldsKept) {
    Select("RV7-G");
    FakeDevice dev;
    dev.script.push_back(Reply(test::CommandReply(5)));
    EXPECT_EQ(Confirm(dev), 5);
    const auto& calls = dev.calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0].kind, Call::kGetLine);
    EXPECT_EQ(calls[1].kind, Call::kSetLine);
    EXPECT_EQ(calls[1].line, k9600_7E1);
    EXPECT_EQ(calls[2].kind, Call::kSetTimeouts);
    EXPECT_EQ(calls[2].timeouts, test::kCommandTimeouts);
    EXPECT_EQ(dev.line, k9600_7E1);
}

// GetCommState and SetCommState results are not examined: a port whose settings cannot be read
// is still given the whole application line.
TEST_F(Handshake, LineIsWrittenWhenItCannotBeRead) {
    Select("RV7-G");
    FakeDevice dev;
    dev.lineReadFails = true;
    Dummy(dev);
    EXPECT_EQ(dev.line, k9600_7E1);
    dev.line = LineSettings{19200, 8, 0, 0, 1, 1};
    dev.script.push_back(Reply(test::CommandReply(5)));
    EXPECT_EQ(Confirm(dev), 5);
    const auto sets = dev.CallsOf(Call::kSetLine);
    ASSERT_EQ(sets.size(), 2u);
    for (const Call& set : sets) {
        EXPECT_EQ(set.line, k9600_7E1);
    }
    EXPECT_EQ(dev.line, k9600_7E1);
}

struct ModeCase {
    const char* name;
    std::vector<Reaction> script;  // then silence
    uint8_t result;
    int errCounter;
    int totalRaised;
    size_t writes;
    int64_t timeMs;
    std::vector<int> errCounterAtWrites;  // empty: not checked
};

Reaction Mode(uint8_t mode, test::ReplyOptions o = {}) {
    return Reply(test::CommandReply(mode, 0, 0, o));
}

// `r`, then a byte every 50 ms for ten seconds: a line that never goes quiet.
Reaction Babbling(Reaction r) {
    for (int64_t ms = 50; ms <= 10000; ms += 50) {
        r.arrivals.push_back({ms, {'x'}});
    }
    return r;
}

// clang-format off
const ModeCase kModeCases[] = {
    {"application mode at once", {Mode(5)}, 5, 0, 0, 1, 0, {0}},
    {"boot mode at once", {Mode(6)}, 6, 0, 0, 1, 0, {0}},
    {"third attempt after two silences", {Silence(), Silence(), Mode(5)}, 5, 0, 2, 3, 9100, {0, 1, 2}},
    {"silent controller", {}, 24, 6, 6, 6, 18000, {0, 1, 2, 3, 4, 5}},
    {"run mode", Times(6, Err(1, 9)), 22, 6, 6, 6, 0, {}},
    {"flow error state 1", Times(6, Err(2, 1)), 17, 6, 6, 6, 0, {}},
    {"flow error state 2", Times(6, Err(2, 2)), 18, 6, 6, 6, 0, {}},
    {"flow error state 3 is another state", Times(6, Err(2, 3)), 21, 6, 6, 6, 0, {}},
    {"flow error state 0 is another state", Times(6, Err(2, 0)), 21, 6, 6, 6, 0, {}},
    {"unknown error class 3", Times(6, Err(3, 1)), 23, 6, 6, 6, 0, {}},
    {"unknown error class 0", Times(6, Err(0, 2)), 23, 6, 6, 6, 0, {}},
    {"error reply is asked again and then accepted", {Err(1, 0), Mode(5)}, 5, 0, 1, 2, 100, {0, 1}},
    {"six write failures", Times(6, ShortWrite(3)), 24, 6, 6, 6, 18000, {}},
    {"five write failures, six bad replies", Then(Times(5, ShortWrite(0)), Times(6, Err(1, 0))), 22, 6, 11, 11, 15000, {0, 1, 2, 3, 4, 5, 1, 2, 3, 4, 5}},
    {"write failures and bad replies interleaved", {ShortWrite(), Err(2, 2), ShortWrite(), Mode(6)}, 6, 0, 3, 4, 6100, {0, 1, 1, 2}},
    {"mode 7 is a bad reply", Times(6, Mode(7)), 24, 6, 6, 6, 0, {}},
    {"mode 0 is a bad reply", Times(6, Mode(0)), 24, 6, 6, 6, 0, {}},
    {"error reply with wrong LRC still decides", Times(6, Err(2, 2, {false, 1})), 18, 6, 6, 6, 0, {}},
    {"wrong LRC mode 5 is refused", Then(Times(5, Mode(5, {false, 1})), {Mode(5)}), 5, 0, 5, 6, 100, {}},
    {"lower-case reply is refused", Times(6, Mode(5, {true, 0})), 24, 6, 6, 6, 0, {}},
    {"lower-case error reply is refused but decides from its upper-case part", Times(6, Reply(test::ErrorReply(2, 0x1A, {true, 0}))), 21, 6, 6, 6, 0, {}},
    {"last attempt silent after error replies", Then(Times(5, Err(1, 0)), {Silence()}), 24, 6, 6, 6, 3000, {}},
    {"short reply then a full one", {Reply(":0064015905"), Mode(5)}, 5, 0, 1, 2, 6100, {}},
    {"garbage", Times(6, Reply("?!?!?!?!?!?!?!?!?!?")), 24, 6, 6, 6, 0, {}},
    {"error class in a pair that is not hex", Times(6, Reply(":0064015915G00000\r\n")), 23, 6, 6, 6, 0, {}},
    {"reply one character too long is taken by its first 19", {Reply(test::CommandReply(5) + "X")}, 5, 0, 0, 1, 0, {}},
    {"a reply cut short is judged as it came, not joined to the one after it", {Reply(":00640159" + test::CommandReply(6)), Mode(5)}, 5, 0, 1, 2, 100, {}},
    {"bytes dropped ahead of a colon never decide the result", Times(6, Reply(std::string(14, '\x15') + ":\x15\x15\x15\x15")), 24, 6, 6, 6, 18000, {}},
    {"a line that never goes quiet is listened to for one read time-out", {Silence(), Babbling(Mode(5))}, 5, 0, 1, 2, 3950 + 3000, {}},
};
// clang-format on

void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << c.name;
}

class ModeQuery : public Handshake, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeQuery, ResultCountersAndTime) {
    const ModeCase& c = GetParam();
    FakeDevice dev;
    std::deque<Reaction> scripted(c.script.begin(), c.script.end());
    std::vector<int> errAtWrites;
    // Answers from the script, then silence, noting errCounter as each request goes out.
    dev.fallback = [&](const test::Bytes&) {
        errAtWrites.push_back(figures.errCounter);
        if (scripted.empty()) {
            return Silence();
        }
        Reaction r = scripted.front();
        scripted.pop_front();
        return r;
    };
    figures.totalErrCounter = 40;
    figures.errCounter = 0;

    const uint8_t result = Confirm(dev);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(figures.errCounter, c.errCounter);
    EXPECT_EQ(figures.totalErrCounter, 40 + c.totalRaised);
    EXPECT_EQ(dev.Writes(), std::vector<std::string>(c.writes, kModeQuery));
    EXPECT_EQ(dev.nowMs(), c.timeMs);
    if (!c.errCounterAtWrites.empty()) {
        EXPECT_EQ(errAtWrites, c.errCounterAtWrites);
    }
    // Every read after a request asks for the whole 19-character reply, and every write follows a
    // discard.
    for (uint32_t size : test::ReplyReadSizes(dev)) {
        EXPECT_EQ(size, 19u);
    }
    const auto& calls = dev.calls();
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].kind == Call::kWrite) {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(calls[i - 1].kind, Call::kDiscard);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Handshake, ModeQuery, ::testing::ValuesIn(kModeCases),
                         [](const auto& p) { return test::TestName(p.param.name); });

TEST_F(Handshake, AnalogModuleModelsAskWithTargetByte5B) {
    for (const char* model : {"ZL500-AIO", "30KT5-AIO"}) {
        Select(model);
        FakeDevice dev;
        dev.script.push_back(Reply(test::CommandReply(6)));
        EXPECT_EQ(Confirm(dev), 6);
        EXPECT_EQ(dev.Writes(), std::vector<std::string>{kAnalogModeQuery}) << model;
    }
}

TEST_F(Handshake, StaleReplyWaitingInTheInputIsNeverTakenForTheAnswer) {
    // A boot-mode answer from an earlier exchange sits unread; the controller now says application.
    FakeDevice dev;
    dev.Inject(test::CommandReply(6));
    dev.script.push_back(Reply(test::CommandReply(5)));
    EXPECT_EQ(Confirm(dev), 5);
    const auto discards = dev.CallsOf(Call::kDiscard);
    ASSERT_EQ(discards.size(), 1u);
    EXPECT_EQ(test::ToText(discards[0].bytes), test::CommandReply(6));
}

TEST_F(Handshake, LateReplyToAnEarlierAttemptIsDroppedBeforeTheNextWrite) {
    // Attempt 1 is answered 3.1 s late (after the read gave up) with an error reply. Attempt 2
    // cannot be written (its write time-out runs out meanwhile); attempt 3 gets application mode.
    FakeDevice dev;
    dev.script.push_back(Reply(test::ErrorReply(1, 0), 3100));
    dev.script.push_back(ShortWrite(0));
    dev.script.push_back(Reply(test::CommandReply(5)));
    figures.totalErrCounter = 0;
    EXPECT_EQ(Confirm(dev), 5);
    EXPECT_EQ(figures.totalErrCounter, 2);
    EXPECT_EQ(dev.Writes().size(), 3u);
    const auto discards = dev.CallsOf(Call::kDiscard);
    ASSERT_EQ(discards.size(), 3u);
    EXPECT_EQ(test::ToText(discards[2].bytes), test::ErrorReply(1, 0));
}

TEST_F(Handshake, LateReplyArrivingDuringTheNextReadIsJudgedAsThatReply) {
    // Nothing to discard yet when attempt 2 is written: the late reply lands inside attempt 2's
    // read. Same request, so the answer is as good as attempt 2's own, which is then waited for
    // (a read time-out, and the line quiet for 100 ms): it never comes here.
    FakeDevice dev;
    dev.script.push_back(Reply(test::CommandReply(6), 3100));
    EXPECT_EQ(Confirm(dev), 6);
    EXPECT_EQ(dev.Writes().size(), 2u);
    EXPECT_EQ(dev.nowMs(), 6200);
}

TEST_F(Handshake, EveryReplyOwedToAnUnansweredAttemptIsDroppedHoweverPaced) {
    // Three queries answered late, each in its own time: the first answer is taken for the third
    // attempt; the two owed after it, 300 ms apart, must not answer the next query.
    FakeDevice dev;
    dev.script.push_back(Reply(test::CommandReply(6), 6050));
    dev.script.push_back(Reply(test::CommandReply(6), 3300));
    dev.script.push_back(Reply(test::CommandReply(6), 600));
    dev.script.push_back(Reply(test::CommandReply(5), 300));
    EXPECT_EQ(Confirm(dev), 6);
    EXPECT_EQ(Confirm(dev), 5);
}

TEST_F(Handshake, ReplyToAnAttemptThatReadOtherBytesIsNotLeftForTheNextRequest) {
    // Two wake replies answered late fill attempt 1's read; its own reply then answers attempt 2,
    // and attempt 2's follows it. The next query finds the controller in its bootloader.
    FakeDevice dev;
    dev.Inject(":007F0081\r\n:007F0081\r\n", 5);
    dev.script.push_back(Reply(test::CommandReply(5), 40));
    dev.script.push_back(Reply(test::CommandReply(5), 40));
    dev.script.push_back(Reply(test::CommandReply(6), 20));
    EXPECT_EQ(Confirm(dev), 5);
    EXPECT_EQ(Confirm(dev), 6);
}

// Bytes one a millisecond, as at 9600 baud, the first `firstMs` after the write.
Reaction Paced(const std::string& text, int64_t firstMs) {
    Reaction r;
    for (size_t i = 0; i < text.size(); ++i) {
        r.arrivals.push_back({firstMs + static_cast<int64_t>(i), test::ToBytes(text.substr(i, 1))});
    }
    return r;
}

TEST_F(Handshake, TailOfAnEarlierReplyStillArrivingDoesNotPutEveryAttemptOutOfStep) {
    // A reply answered late is still arriving when the query is written; the discard takes its
    // first byte only. The rest must not push this reply's tail into the next attempt's read,
    // which would repeat for every attempt while the controller answers each one. Wherever the
    // ":" falls in the read, its last byte too, the reply is read from there.
    struct Case {
        const char* name;
        std::string tail;  // one byte a millisecond from the write on
        int64_t replyMs;   // when the query's own reply begins
    };
    const Case cases[] = {
        {"a wake reply ahead", ":007F0081\r\n", 16},
        {"a whole reply ahead, the colon last in the read", test::CommandReply(6), 19},
        {"the colon second of two bytes as the read times out", "\r\n", 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDevice dev;
        for (size_t i = 0; i < c.tail.size(); ++i) {
            dev.Inject(c.tail.substr(i, 1), static_cast<int64_t>(i));
        }
        const int64_t replyMs = c.replyMs;
        dev.fallback = [replyMs](const test::Bytes&) {
            return Paced(test::CommandReply(5), replyMs);
        };
        figures.totalErrCounter = 0;
        EXPECT_EQ(Confirm(dev), 5);
        EXPECT_EQ(dev.Writes().size(), 1u);
        EXPECT_EQ(figures.totalErrCounter, 0);
    }
}

TEST_F(Handshake, AWholeReplyThatPassesStandsWhateverItsFirstAndLastCharacters) {
    // A ":" among the two last characters is not taken for the start of a reply.
    std::string odd = test::CommandReply(5);
    odd[0] = 'X';
    odd[odd.size() - 2] = ':';
    FakeDevice dev;
    dev.fallback = [odd](const test::Bytes&) { return Paced(odd, 16); };
    figures.totalErrCounter = 0;
    EXPECT_EQ(Confirm(dev), 5);
    EXPECT_EQ(dev.Writes().size(), 1u);
    EXPECT_EQ(figures.totalErrCounter, 0);
}

TEST_F(Handshake, ClosedHandleFailsAtOnceWithNoResponse) {
    figures.totalErrCounter = 0;
    Dummy(ClosedDevice());
    EXPECT_EQ(Confirm(ClosedDevice()), 24);
    EXPECT_EQ(figures.errCounter, 6);
    EXPECT_EQ(figures.totalErrCounter, 6);
}

}  // namespace
}  // namespace fwburn

// Frames, LRC and the in-place reply check.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/frame.hpp"
#include "protocol/requests.hpp"

namespace fwburn {
namespace {

std::vector<uint8_t> Text(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// The request bytes as listed for each command, LRC excluded.
struct Listed {
    const AppRequest* request;
    std::vector<uint8_t> bytes;
};

TEST(Requests, EveryTextIsTheFrameOfItsListedBytes) {
    const Listed listed[] = {
        {&kWakeRequest, {0x00, 0x7F}},
        {&ModeQueryRequest(0x59), {0x00, 0x64, 0x01, 0x59, 0x01}},
        {&ModeQueryRequest(0x5B), {0x00, 0x64, 0x01, 0x5B, 0x01}},
        {&ModelIdRequest(0x59), {0x00, 0x64, 0x01, 0x59, 0x49, 0x44}},
        {&ModelIdRequest(0x5B), {0x00, 0x64, 0x01, 0x5B, 0x49, 0x44}},
        {&kReadD1386Request, {0x00, 0x03, 0x15, 0x6A, 0x00, 0x01}},
        {&kReadD1148Request, {0x00, 0x03, 0x14, 0x7C, 0x00, 0x01}},
        {&kVersionRequest, {0x00, 0x64, 0x01, 0x59, 0x05}},
        {&UpdateRequest(0x59), {0x00, 0x64, 0x01, 0x59, 0x45, 0x52, 0x41, 0x53, 0x45}},
        {&UpdateRequest(0x5B), {0x00, 0x64, 0x01, 0x5B, 0x45, 0x52, 0x41, 0x53, 0x45}},
        {&UpdateAckRequest(0x59), {0x00, 0x64, 0x01, 0x59, 0x06}},
        {&UpdateAckRequest(0x5B), {0x00, 0x64, 0x01, 0x5B, 0x06}},
    };
    ASSERT_EQ(sizeof listed / sizeof listed[0], kAllAppRequestCount);
    for (const Listed& l : listed) {
        char built[64] = {};
        const size_t n = EncodeFrame(l.bytes.data(), l.bytes.size(), built, sizeof built);
        EXPECT_EQ(std::string(built, n), std::string(l.request->text, l.request->length))
            << l.request->name;
        EXPECT_EQ(l.request->length, std::strlen(l.request->text));
    }
}

TEST(Requests, ExactTextsAndLengths) {
    struct Case {
        const AppRequest& request;
        const char* text;
        uint32_t length;
    };
    const Case cases[] = {
        {kWakeRequest, ":007F81\r\n", 9},
        {ModeQueryRequest(0x59), ":006401590141\r\n", 15},
        {ModeQueryRequest(0x5B), ":0064015B013F\r\n", 15},
        {ModelIdRequest(0x59), ":006401594944B5\r\n", 17},
        {ModelIdRequest(0x5B), ":0064015B4944B3\r\n", 17},
        {kReadD1386Request, ":0003156A00017D\r\n", 17},
        {kReadD1148Request, ":0003147C00016C\r\n", 17},
        {kVersionRequest, ":00640159053D\r\n", 15},
        {UpdateRequest(0x59), ":006401594552415345D2\r\n", 23},
        {UpdateRequest(0x5B), ":0064015B4552415345D0\r\n", 23},
        {UpdateAckRequest(0x59), ":00640159063C\r\n", 15},
        {UpdateAckRequest(0x5B), ":0064015B063A\r\n", 15},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(std::string(c.request.text, c.request.length), c.text);
        EXPECT_EQ(c.request.length, c.length);
    }
}

TEST(Requests, EveryRequestPassesTheReplyCheck) {
    for (size_t i = 0; i < kAllAppRequestCount; ++i) {
        const AppRequest& r = *kAllAppRequests[i];
        std::vector<uint8_t> text(r.text + 1, r.text + r.length - 2);
        EXPECT_EQ(CheckLRC(text.data(), static_cast<uint8_t>(text.size())), 0) << r.name;
    }
}

TEST(Lrc, TwosComplementOfTheSum) {
    const uint8_t wake[] = {0x00, 0x7F};
    EXPECT_EQ(Lrc(wake, 2), 0x81);
    EXPECT_EQ(Lrc(nullptr, 0), 0x00);
    const uint8_t wraps[] = {0xFF, 0xFF, 0x02};  // sum 0x200: LRC 0
    EXPECT_EQ(Lrc(wraps, 3), 0x00);
    const uint8_t one[] = {0x01};
    EXPECT_EQ(Lrc(one, 1), 0xFF);
}

TEST(EncodeFrame, RefusesASmallBuffer) {
    const uint8_t b[] = {0x00, 0x7F};
    char out[8];
    EXPECT_EQ(EncodeFrame(b, 2, out, sizeof out), 0u);
    char fits[9];
    EXPECT_EQ(EncodeFrame(b, 2, fits, sizeof fits), 9u);
}

TEST(CheckLRC, AcceptsIntactUpperCaseWhateverTheFrameEnds) {
    // A mode reply: 00 64 01 59 05 00 00, LRC 0x3D.
    for (const char* frame : {":006401590500003D\r\n", "X006401590500003DYZ"}) {
        std::vector<uint8_t> t = Text(frame);
        ASSERT_EQ(t.size(), 19u);
        EXPECT_EQ(CheckLRC(t.data() + 1, 16), 0) << frame;
        const uint8_t decoded[] = {0x00, 0x64, 0x01, 0x59, 0x05, 0x00, 0x00, 0x3D};
        EXPECT_EQ(std::memcmp(t.data() + 1, decoded, 8), 0);
        // The characters after the decoded bytes are untouched text.
        EXPECT_EQ(t[9], '0');
    }
}

TEST(CheckLRC, RejectionsAndWhatTheyLeaveBehind) {
    struct Case {
        const char* name;
        const char* text;  // the 16 hex characters
        bool accepted;
        int decodedPairs;  // pairs decoded before the check stopped
    };
    const Case cases[] = {
        {"intact", "006401590500003D", true, 8},
        {"lower-case letters, right LRC", "006401590500003d", false, 7},
        {"lower-case in the middle", "00640159050a003D", false, 5},
        {"LRC off by one", "006401590500003E", false, 8},
        {"LRC one short", "006401590500003C", false, 8},
        {"non-hex in the third pair", "0064G1590500003D", false, 2},
        {"space", "00 401590500003D", false, 1},
        {"high nibble bad", "006401590500003:", false, 7},
        {"all zero", "0000000000000000", true, 8},
        {"colon first", ":064015905000032", false, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> buf = Text(std::string(":") + c.text + "\r\n");
        const std::vector<uint8_t> received = buf;
        const uint8_t result = CheckLRC(buf.data() + 1, 16);
        EXPECT_EQ(result == 0, c.accepted) << c.name;
        // Decoded pairs at the start, the received characters from the write position on.
        for (int i = 0; i < c.decodedPairs; ++i) {
            unsigned v = 0;
            std::sscanf(reinterpret_cast<const char*>(received.data()) + 1 + 2 * i, "%2x", &v);
            EXPECT_EQ(buf[1 + i], v) << c.name << " pair " << i;
        }
        for (size_t i = 1 + c.decodedPairs; i < buf.size(); ++i) {
            EXPECT_EQ(buf[i], received[i]) << c.name << " position " << i;
        }
    }
}

TEST(CheckLRC, SumOfOneAndBadCharacterBothGiveOne) {
    std::vector<uint8_t> sumOne = Text("006401590500003E");
    EXPECT_EQ(CheckLRC(sumOne.data(), 16), 1);
    std::vector<uint8_t> bad = Text("0Z6401590500003D");
    EXPECT_EQ(CheckLRC(bad.data(), 16), 1);
}

TEST(CheckLRC, CountZeroAndOddCounts) {
    uint8_t text[] = {'Z', 'Z'};
    EXPECT_EQ(CheckLRC(text, 0), 0);
    EXPECT_EQ(text[0], 'Z');
    // An odd count would walk past the text: refused before anything is read.
    uint8_t odd[] = {'0', '0', '0'};
    EXPECT_NE(CheckLRC(odd, 3), 0);
    EXPECT_EQ(odd[0], '0');
}

TEST(CheckLRC, ShortReplyOfTwelveCharacters) {
    // Register read answer: 00 03 02 41 38, LRC 0x82.
    std::vector<uint8_t> t = Text(":000302413882\r\n");
    ASSERT_EQ(t.size(), 15u);
    EXPECT_EQ(CheckLRC(t.data() + 1, 12), 0);
    EXPECT_EQ(t[4] * 256 + t[5], 0x4138);
}

}  // namespace
}  // namespace fwburn

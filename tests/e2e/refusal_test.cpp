// Updates that end before any byte is exchanged: the image refused, or the port not opened.
#include <gtest/gtest.h>

#include "tests/support/test_name.hpp"

#include <string>

#include "burn/burn.hpp"
#include "catalogue/catalogue.hpp"
#include "tests/support/recording_operator.hpp"
#include "tests/support/test_image.hpp"

namespace fwburn {
namespace {

using test::OperatorEvent;
using test::RecordingOperator;
using test::TestImage;

struct RefusalCase {
    const char* name;
    const char* model;
    uint32_t length;
    bool corrupt;
    const char* port;  // the port name of the job
    const char* message;
    const char* sequence;      // operator calls, see RecordingOperator::Sequence
    bool withoutData = false;  // the length handed over without the image's bytes
};

// Opens nothing: the refusals end before a port opens, the open failures at it.
OutcomeKind KindOf(const RefusalCase& c) {
    return std::string(c.sequence).size() > 4 ? OutcomeKind::PortNotOpened
                                              : OutcomeKind::ImageRefused;
}

const RefusalCase kRefusals[] = {
    {"ZL500 one byte over its limit", "ZL500", 2076673, false, "USB",
     "The file size EXCEEDS the MAXIMUM size (2028 * 1024)", "DTME"},
    {"ZL500-AIO one byte over", "ZL500-AIO", 40961, false, "USB",
     "The file size EXCEEDS the MAXIMUM size (40 * 1024)", "DTME"},
    {"RV7-G one byte over", "RV7-G", 524289, false, "COM3",
     "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 4)", "DTME"},
    {"HU26 one byte over", "HU26", 917505, false, "USB",
     "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 7)", "DTME"},
    {"30KT5-AIO one byte over", "30KT5-AIO", 12289, false, "COM3",
     "The file size EXCEEDS the MAXIMUM size (12 * 1024)", "DTME"},
    {"MN6 one byte over", "MN6", 491521, false, "COM3",
     "The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)", "DTME"},
    {"empty image", "ZL500", 0, false, "USB", "The firmware image is MISSING or EMPTY", "DTME"},
    {"ZL500 image of 4 KiB", "ZL500", 4096, false, "USB",
     "The file size is TOO SMALL (4 * 1024 or less)", "DTME"},
    // Nothing may be read through the missing pointer.
    {"length without data", "ZL500-AIO", 11056, false, "USB",
     "The firmware image is MISSING or EMPTY", "DTME", true},
    {"damaged image", "ZL500-AIO", 11056, true, "USB", "The firmware image is CORRUPTED", "DTME"},
    {"USB device absent", "ZL500", 2076672, false, "USB", "CANNOT open USB Port!!!", "DUTME"},
    {"USB device absent whatever the port text", "HU", 1000, false, "COM7",
     "CANNOT open USB Port!!!", "DUTME"},
    {"serial port absent", "RV7-G", 1000, false, "COM12", "CANNOT open COM12 Port!!!", "DSTME"},
    {"no port selected", "TQ38", 1000, false, "", "CANNOT open  Port!!!", "DSTME"},
};

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, OneMessageNothingOpenedFiguresReset) {
    const RefusalCase& c = GetParam();
    TestImage image(c.length, 99);
    if (c.corrupt) {
        image.bytes[5000] ^= 1;  // damaged after the build recorded its digest
    }
    RecordingOperator op;
    std::string openedPort;
    op.openSerial = [&](const char* port) {
        openedPort = port;
        return &ClosedDevice();
    };
    Update update;
    image.Job(update, op, FindModelRow(c.model), c.port);
    if (c.withoutData) {
        update.image.data = nullptr;
    }
    update.figures.elapsedTime = 12;
    const UpdateOutcome outcome = StartBurn(update);

    EXPECT_EQ(op.Sequence(), c.sequence);
    const auto messages = op.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "ERROR");
    EXPECT_EQ(messages[0].text, c.message);
    EXPECT_EQ(messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(messages[0].elapsedTime, 12);  // still shown while the message is open
    EXPECT_EQ(update.figures.elapsedTime, 0);
    EXPECT_EQ(update.device, &ClosedDevice());
    EXPECT_EQ(outcome.kind, KindOf(c));
    EXPECT_STREQ(outcome.caption, "ERROR");
    EXPECT_STREQ(outcome.text, c.message);
    EXPECT_EQ(outcome.icon, MessageIcon::Error);
    EXPECT_FALSE(outcome.erased);
    EXPECT_EQ(messages[0].outcome, outcome.kind);
    if (std::string(c.sequence).find('S') != std::string::npos) {
        EXPECT_EQ(openedPort, c.port);  // opened exactly by the listed name
    }
}

INSTANTIATE_TEST_SUITE_P(Worker, Refusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& p) { return test::TestName(p.param.name); });

TEST(Worker, AnImageExactlyAtTheLimitIsNotRefused) {
    TestImage image(2076672, 5);
    RecordingOperator op;
    Update update;
    image.Job(update, op, FindModelRow("ZL500"), "USB");
    // It got as far as opening the USB device (absent here).
    EXPECT_EQ(StartBurn(update).kind, OutcomeKind::PortNotOpened);
    EXPECT_EQ(op.Sequence(), "DUTME");
}

}  // namespace
}  // namespace fwburn

// The worker's message tables, for every code the commands return and the ones they never do.
#include <gtest/gtest.h>

#include <string>

#include "burn/messages.hpp"

namespace fwburn {
namespace {

TEST(Messages, FailureTablesByLowFourBits) {
    struct Case {
        uint8_t code;
        const char* modeQuery;
        const char* modelId;
        const char* updateRequest;
    };
    const Case cases[] = {
        {0x11, "FLOW ERROR @ State 1", "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 3"},
        {0x12, "FLOW ERROR @ State 2", "FLOW ERROR @ State 2", "UNKNOWN MESSAGE @ State 3"},
        {0x13, "UNKNOWN MESSAGE", "FLOW ERROR @ State 3", "FLOW ERROR @ State 3"},
        {0x14, "UNKNOWN MESSAGE", "UNKNOWN MESSAGE @ State 2", "FLOW ERROR @ State 4"},
        {0x15, "PLC type is WRONG", "PLC type is WRONG", "PLC type is WRONG"},
        {0x16, "PLC in RUN MODE", "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 3"},
        {0x17, "UNKNOWN ERROR CODE @ State 1", "UNKNOWN ERROR CODE @ State 2",
         "UNKNOWN ERROR CODE @ State 3"},
        {0x18, "NO RESPONSE @ State 1", "NO RESPONSE @ State 2", "NO RESPONSE @ State 3"},
        {0x10, "UNKNOWN MESSAGE", "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 3"},
        {0x19, "UNKNOWN MESSAGE", "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 3"},
        {0x08, "NO RESPONSE @ State 1", "NO RESPONSE @ State 2", "NO RESPONSE @ State 3"},
        {0xF6, "PLC in RUN MODE", "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 3"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(ModeQueryFailureMessage(c.code), c.modeQuery) << int{c.code};
        EXPECT_STREQ(ModelIdFailureMessage(c.code), c.modelId) << int{c.code};
        EXPECT_STREQ(UpdateRequestFailureMessage(c.code), c.updateRequest) << int{c.code};
    }
}

// Which failures are the controller saying no (a wrong model, run mode) and which a failed
// exchange: a front end's exit status depends on it.
TEST(Messages, FailureKindsByLowFourBits) {
    constexpr auto R = OutcomeKind::ControllerRefused;
    constexpr auto F = OutcomeKind::CommunicationFailed;
    struct Case {
        uint8_t code;
        OutcomeKind modeQuery, modelId, updateRequest;
    };
    const Case cases[] = {
        {0x11, F, F, F}, {0x12, F, F, F}, {0x13, F, F, F}, {0x14, F, F, F},
        {0x15, R, R, R}, {0x16, R, F, F}, {0x17, F, F, F}, {0x18, F, F, F},
        {0x10, F, F, F}, {0x19, F, F, F}, {0x08, F, F, F}, {0xF6, R, F, F},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ModeQueryFailureKind(c.code), c.modeQuery) << int{c.code};
        EXPECT_EQ(ModelIdFailureKind(c.code), c.modelId) << int{c.code};
        EXPECT_EQ(UpdateRequestFailureKind(c.code), c.updateRequest) << int{c.code};
    }
}

TEST(Messages, OneWordPerOutcomeKind) {
    struct Case {
        OutcomeKind kind;
        const char* word;
    };
    const Case cases[] = {
        {OutcomeKind::Success, "success"},
        {OutcomeKind::ImageRefused, "image-refused"},
        {OutcomeKind::PortNotOpened, "port-failed"},
        {OutcomeKind::ControllerRefused, "controller-refused"},
        {OutcomeKind::CommunicationFailed, "communication-failed"},
        {OutcomeKind::FailedAfterErase, "update-failed"},
        {OutcomeKind::Cancelled, "cancelled"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(OutcomeName(c.kind), c.word);
    }
    // Only a cancelled update shows no message.
    UpdateOutcome o;
    EXPECT_FALSE(o.shown());
    EXPECT_FALSE(o.erased);
    EXPECT_STREQ(o.caption, "");
    o.kind = OutcomeKind::CommunicationFailed;
    EXPECT_TRUE(o.shown());
}

TEST(Messages, OpenFailureTextKeepsTheListedName) {
    struct Case {
        const char* port;
        const char* text;
    };
    const Case cases[] = {
        {"COM3", "CANNOT open COM3 Port!!!"},
        {"COM12", "CANNOT open COM12 Port!!!"},
        {"USB", "CANNOT open USB Port!!!"},
        {"", "CANNOT open  Port!!!"},
        {"COM123456", "CANNOT open COM123456 Port!!!"},
        {"COM1234567890", "CANNOT open COM123456 Port!!!"},
    };
    for (const Case& c : cases) {
        char out[30];
        OpenFailureText(c.port, out);
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(out[29], '\0');
    }
}

}  // namespace
}  // namespace fwburn

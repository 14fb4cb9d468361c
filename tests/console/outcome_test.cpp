// The exit status a script sees for each way an update ends. The statuses and words are written
// out here: a renumbered status must fail this test.
#include "ui/console/session/outcome.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <set>
#include <string>

#include "burn/messages.hpp"

namespace fwburn::console {
namespace {

TEST(OutcomeTest, EveryKindOfEndingHasItsStatusAndWord) {
    struct Case {
        OutcomeKind kind;
        int status;
        const char* word;
    };
    const Case cases[] = {
        {OutcomeKind::Success, 0, "success"},
        {OutcomeKind::ImageRefused, 3, "image-refused"},
        {OutcomeKind::PortNotOpened, 4, "port-failed"},
        {OutcomeKind::ControllerRefused, 5, "controller-refused"},
        {OutcomeKind::CommunicationFailed, 6, "communication-failed"},
        {OutcomeKind::FailedAfterErase, 7, "update-failed"},
        {OutcomeKind::Cancelled, 8, "cancelled"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<int>(ExitCodeFor(c.kind)), c.status) << c.word;
        EXPECT_STREQ(ResultName(ExitCodeFor(c.kind)), c.word);
    }
}

// The three application-mode tables: the controller's refusals end with 5, every other failure
// (its own words as the window shows them) with 6.
TEST(OutcomeTest, ApplicationModeFailuresEndAsRefusalsOrBrokenCommunication) {
    struct Case {
        const char* text;
        int status;
    };
    // Indexed by the result's low bits; 0 is success and never a message.
    const Case modeQuery[] = {{"", 0},
                              {"FLOW ERROR @ State 1", 6},
                              {"FLOW ERROR @ State 2", 6},
                              {"UNKNOWN MESSAGE", 6},
                              {"UNKNOWN MESSAGE", 6},
                              {"PLC type is WRONG", 5},
                              {"PLC in RUN MODE", 5},
                              {"UNKNOWN ERROR CODE @ State 1", 6},
                              {"NO RESPONSE @ State 1", 6}};
    const Case modelId[] = {{"UNKNOWN MESSAGE @ State 2", 6}, {"UNKNOWN MESSAGE @ State 2", 6},
                            {"FLOW ERROR @ State 2", 6},      {"FLOW ERROR @ State 3", 6},
                            {"UNKNOWN MESSAGE @ State 2", 6}, {"PLC type is WRONG", 5},
                            {"UNKNOWN MESSAGE @ State 2", 6}, {"UNKNOWN ERROR CODE @ State 2", 6},
                            {"NO RESPONSE @ State 2", 6}};
    const Case updateRequest[] = {
        {"UNKNOWN MESSAGE @ State 3", 6}, {"UNKNOWN MESSAGE @ State 3", 6},
        {"UNKNOWN MESSAGE @ State 3", 6}, {"FLOW ERROR @ State 3", 6},
        {"FLOW ERROR @ State 4", 6},      {"PLC type is WRONG", 5},
        {"UNKNOWN MESSAGE @ State 3", 6}, {"UNKNOWN ERROR CODE @ State 3", 6},
        {"NO RESPONSE @ State 3", 6}};
    for (size_t low = 1; low < std::size(modeQuery); ++low) {
        // The high bits of a result say which exchange failed; the status goes by the low ones.
        for (const size_t high : {0x00, 0x10, 0xF0}) {
            const uint8_t r = static_cast<uint8_t>(high | low);
            EXPECT_STREQ(ModeQueryFailureMessage(r), modeQuery[low].text);
            EXPECT_EQ(ExitCodeFor(ModeQueryFailureKind(r)), modeQuery[low].status) << +r;
            EXPECT_STREQ(ModelIdFailureMessage(r), modelId[low].text);
            EXPECT_EQ(ExitCodeFor(ModelIdFailureKind(r)), modelId[low].status) << +r;
            EXPECT_STREQ(UpdateRequestFailureMessage(r), updateRequest[low].text);
            EXPECT_EQ(ExitCodeFor(UpdateRequestFailureKind(r)), updateRequest[low].status) << +r;
        }
    }
}

TEST(OutcomeTest, EveryStatusHasItsOwnResultWord) {
    const ExitCode all[] = {kExitSuccess,      kExitUnexpected,       kExitUsage,
                            kExitImageRefused, kExitPortFailed,       kExitControllerRefused,
                            kExitCommFailed,   kExitFailedAfterErase, kExitCancelled,
                            kExitInterrupted};
    std::set<std::string> words;
    for (ExitCode code : all) {
        words.insert(ResultName(code));
    }
    EXPECT_EQ(words.size(), std::size(all));
    EXPECT_STREQ(ResultName(kExitUsage), "usage");
    EXPECT_STREQ(ResultName(kExitInterrupted), "interrupted");
    EXPECT_STREQ(ResultName(kExitUnexpected), "unexpected");
}

}  // namespace
}  // namespace fwburn::console

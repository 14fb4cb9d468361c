// Every final message the worker can show, mapped to the exit status a script sees. The texts are
// written out here, not taken from the tables: a reworded message must fail this test.
#include "ui/console/outcome.hpp"

#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>

#include "tests/support/test_name.hpp"

namespace fwburn::console {
namespace {

struct Case {
    const char* text;
    ExitCode code;
};

const Case kCases[] = {
    {"Firmware update is SUCCESSFUL", kExitSuccess},
    {"Firmware update is SUCCESSFUL!, please REPLUG the USB cable", kExitSuccess},

    {"The file size EXCEEDS the MAXIMUM size (2028 * 1024)", kExitImageRefused},
    {"The file size EXCEEDS the MAXIMUM size (40 * 1024)", kExitImageRefused},
    {"The file size EXCEEDS the MAXIMUM size (128 * 1024 * 4)", kExitImageRefused},
    {"The file size EXCEEDS the MAXIMUM size (128 * 1024 * 7)", kExitImageRefused},
    {"The file size EXCEEDS the MAXIMUM size (12 * 1024)", kExitImageRefused},
    {"The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)", kExitImageRefused},
    {"The file size is TOO SMALL (4 * 1024 or less)", kExitImageRefused},
    {"The firmware image is MISSING or EMPTY", kExitImageRefused},
    {"The firmware image is CORRUPTED", kExitImageRefused},
    {"TEST BUILD: the built-in image is a STAND-IN, not a firmware; NOTHING was written",
     kExitImageRefused},

    {"CANNOT open USB Port!!!", kExitPortFailed},
    {"CANNOT open pts/7 Port!!!", kExitPortFailed},
    {"CANNOT open  Port!!!", kExitPortFailed},  // no serial port at all

    {"PLC type is WRONG", kExitControllerRefused},
    {"PLC in RUN MODE", kExitControllerRefused},
    {"Check PLC, RV7-KT5 is different than RV7-G", kExitControllerRefused},
    {"Check PLC, 12TQ3 is different than 28TQ3", kExitControllerRefused},
    {"Check PLC, 28TQ3 is different than 12TQ3", kExitControllerRefused},
    {"Check PLC, 12HU is different than 26HU", kExitControllerRefused},
    {"Check PLC, 26HU is different than 12HU", kExitControllerRefused},
    {"The bootloader version is V0.9, do not support AIO FW update", kExitControllerRefused},
    {"The bootloader version is unknown, do not support AIO FW update", kExitControllerRefused},

    {"FLOW ERROR @ State 1", kExitCommFailed},
    {"FLOW ERROR @ State 2", kExitCommFailed},
    {"FLOW ERROR @ State 3", kExitCommFailed},
    {"FLOW ERROR @ State 4", kExitCommFailed},
    {"NO RESPONSE @ State 1", kExitCommFailed},
    {"NO RESPONSE @ State 2", kExitCommFailed},
    {"NO RESPONSE @ State 3", kExitCommFailed},
    {"UNKNOWN ERROR CODE @ State 1", kExitCommFailed},
    {"UNKNOWN ERROR CODE @ State 2", kExitCommFailed},
    {"UNKNOWN ERROR CODE @ State 3", kExitCommFailed},
    {"UNKNOWN MESSAGE", kExitCommFailed},
    {"UNKNOWN MESSAGE @ State 2", kExitCommFailed},
    {"UNKNOWN MESSAGE @ State 3", kExitCommFailed},
    {"PLC DOES NOT respond to the version read", kExitCommFailed},
    {"PLC DOES NOT respond to the variant read", kExitCommFailed},

    {"PLC DOES NOT respond to the erasing signal", kExitFailedAfterErase},
    {"PLC DOES NOT respond to the update signal", kExitFailedAfterErase},
    {"Firmware update is FAILED", kExitFailedAfterErase},

    // Near misses are no known message: a script must not take them for one.
    {"Firmware update is SUCCESSFUL!", kExitUnexpected},
    {"firmware update is successful", kExitUnexpected},
    {"CANNOT open USB Port", kExitUnexpected},
    {"CANNOT open Port!!!", kExitUnexpected},
    {"NO RESPONSE @ State 4", kExitUnexpected},
    {"Check PLC, ZL500 is different than ZL600", kExitUnexpected},
    {"", kExitUnexpected},
};

class OutcomeTest : public ::testing::TestWithParam<Case> {};

TEST_P(OutcomeTest, MapsToItsExitStatus) {
    EXPECT_EQ(ExitCodeForMessage(GetParam().text), GetParam().code) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(AllMessages, OutcomeTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& row) {
                             return std::to_string(row.index) + "_" +
                                    test::TestName(row.param.text).substr(0, 40);
                         });

TEST(OutcomeTest, NoTextIsUnexpected) {
    EXPECT_EQ(ExitCodeForMessage(nullptr), kExitUnexpected);
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
    EXPECT_STREQ(ResultName(kExitSuccess), "success");
    EXPECT_STREQ(ResultName(kExitInterrupted), "interrupted");
}

}  // namespace
}  // namespace fwburn::console

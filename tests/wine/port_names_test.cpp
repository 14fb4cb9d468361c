// The Windows link's text rules: port names cut from friendly names, the device-namespace name,
// and the USB path checks that keep every buffer within its size.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/win32/port_names.hpp"

namespace fwburn {
namespace {

struct CutCase {
    const char* friendlyName;
    bool listed;
    const char* port;
};

TEST(CutPortName, ListsWellFormedNamesAndSkipsTheRest) {
    const CutCase cases[] = {
        {"Communications Port (COM1)", true, "COM1"},
        {"USB Serial Port (COM12)", true, "COM12"},
        {"Port (COM4) (x)", true, "COM4) (x"},  // first "(COM" to the last ")"
        {"(COM123456)", true, "COM123456"},     // 9 characters: the longest that fits
        {"Long (COM1234567)", false, ""},       // 10 characters would overrun the port texts
        {"Very Long Serial Port Name (COM123456789)", false, ""},
        {"Broken Port (COM7", false, ""},  // no ")" after "(COM"
        {"Odd) Port (COM7", false, ""},    // the only ")" stands before "(COM"
        {"Printer Port (LPT1)", false, ""},
        {"Communications Port (com3)", false, ""},  // the search is case-sensitive
        {"", false, ""},
    };
    for (const CutCase& c : cases) {
        char out[kPortNameSize];
        std::memset(out, 'x', sizeof out);
        EXPECT_EQ(CutPortName(c.friendlyName, out), c.listed) << c.friendlyName;
        EXPECT_STREQ(out, c.port) << c.friendlyName;
    }
    char out[kPortNameSize];
    EXPECT_FALSE(CutPortName(nullptr, out));
}

TEST(SerialDevicePath, PrefixesTheListedNameWithTheDeviceNamespace) {
    const struct {
        const char* listed;
        bool ok;
        const char* path;
    } cases[] = {
        {"COM3", true, "\\\\.\\COM3"},
        {"COM12", true, "\\\\.\\COM12"},
        {"COM4) (x", true, "\\\\.\\COM4) (x"},
        {"COM123456", true, "\\\\.\\COM123456"},
        {"COM1234567", false, ""},
        {"", false, ""},  // nothing selected: the open fails, nothing is opened
    };
    for (const auto& c : cases) {
        char out[kSerialPathSize];
        EXPECT_EQ(SerialDevicePath(c.listed, out), c.ok) << c.listed;
        EXPECT_STREQ(out, c.path) << c.listed;
    }
}

TEST(IsControllerPath, MatchesTheLowerCaseFragmentOnly) {
    EXPECT_TRUE(IsControllerPath(
        "\\\\?\\usb#vid_3b9e&pid_0001#5&1&0&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"));
    EXPECT_FALSE(IsControllerPath(
        "\\\\?\\USB#VID_3B9E&PID_0001#5&1&0&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"));
    EXPECT_FALSE(IsControllerPath("\\\\?\\usb#vid_3b9e&pid_0002#5&1&0&1"));
    EXPECT_FALSE(IsControllerPath("\\\\?\\usb#vid_1234&pid_0001#5&1&0&1"));
    EXPECT_FALSE(IsControllerPath(nullptr));
}

TEST(UsbPath, APathThatLeavesNoRoomForTheSeparatorDoesNotMatch) {
    char buffer[kUsbPathSize];
    // 298 characters, the separator and the terminator: exactly full.
    const std::string fits = "\\\\?\\usb#vid_3b9e&pid_0001#" + std::string(298 - 26, 'a');
    ASSERT_EQ(fits.size(), 298u);
    ASSERT_TRUE(CopyDevicePath(fits.c_str(), buffer));
    EXPECT_EQ(fits, buffer);
    ASSERT_TRUE(AppendPipeSuffix(buffer, ""));
    EXPECT_EQ(fits + "\\", buffer);

    const std::string tooLong = fits + "b";
    EXPECT_FALSE(CopyDevicePath(tooLong.c_str(), buffer));
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(IsControllerPath(buffer));
}

TEST(UsbPath, SuffixIsAppendedBehindOneSeparatorWhenItFits) {
    char buffer[kUsbPathSize];
    ASSERT_TRUE(CopyDevicePath("\\\\?\\usb#vid_3b9e&pid_0001#1", buffer));
    ASSERT_TRUE(AppendPipeSuffix(buffer, "PIPE00"));
    EXPECT_STREQ(buffer, "\\\\?\\usb#vid_3b9e&pid_0001#1\\PIPE00");

    const std::string path(290, 'p');
    ASSERT_TRUE(CopyDevicePath(path.c_str(), buffer));
    EXPECT_TRUE(AppendPipeSuffix(buffer, "12345678"));  // 290 + 1 + 8 + 1 = 300
    ASSERT_TRUE(CopyDevicePath(path.c_str(), buffer));
    EXPECT_FALSE(AppendPipeSuffix(buffer, "123456789"));
    EXPECT_EQ(path, buffer);  // unchanged when it does not fit
}

}  // namespace
}  // namespace fwburn

// What a Windows port and controller are known by, and what locks them: two names of one port
// must meet in one key and one lock, two ports never.
#include <gtest/gtest.h>

#include <string>

#include "link/win32/port_identity.hpp"

namespace fwburn {
namespace {

TEST(ComPortName, TakesEveryWayOfWritingACom) {
    const struct {
        const char* given;
        const char* name;
    } cases[] = {
        {"COM5", "COM5"},
        {"com12", "COM12"},
        {"\\\\.\\COM12", "COM12"},
        {"\\\\?\\com3", "COM3"},
        {"COM123456", "COM123456"},  // the longest the window's port texts hold
        // The object namespace's links back to the DOS devices, in any case and chained.
        {"\\??\\COM7", "COM7"},
        {"\\\\.\\Global\\COM7", "COM7"},
        {"\\\\?\\global\\com7", "COM7"},
        {"\\\\.\\GLOBALROOT\\??\\COM7", "COM7"},
        {"\\\\?\\GLOBALROOT\\GLOBAL??\\COM7", "COM7"},
        {"\\\\.\\globalroot\\DosDevices\\COM7", "COM7"},
        {"\\??\\Global\\GLOBALROOT\\Global??\\Global\\COM7", "COM7"},
        // Win32 drops the dots and blanks that end a name, but not after "\\?\" or "\??\".
        {"\\\\.\\COM7 .", "COM7"},
        {"COM7.", "COM7"},
        {"\\\\?\\COM7.", ""},
        {"\\??\\COM7 ", ""},
        // The root holds no COM7; a relative path is a file; a superscript one is no digit.
        {"\\\\.\\GLOBALROOT\\COM7", ""},
        {"\\\\.\\GLOBALROOT\\Device\\COM7", ""},
        {"Global\\COM7", ""},
        {"COM\xC2\xB9", ""},
        {"COM1234567", ""},
        {"COM0", ""},
        {"COM05", ""},
        {"COM", ""},
        {"COM5:", ""},
        {"LPT1", ""},
        {"\\\\.\\", ""},
        {"/dev/ttyS0", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ComPortName(c.given), c.name) << c.given;
    }
}

TEST(PortKey, OneKeyForTwoNamesOfOnePort) {
    EXPECT_EQ(PortKey("com5"), PortKey("\\\\.\\COM5"));
    EXPECT_NE(PortKey("COM5"), PortKey("COM50"));
    EXPECT_EQ(PortKey("\\\\?\\usb#vid_3b9e&pid_0001#1#{guid}"),
              PortKey("\\\\?\\USB#VID_3B9E&PID_0001#1#{GUID}"));
    EXPECT_EQ(PortKey("\\\\.\\pipe\\x"), "PIPE\\X");
    // A device that is no COM port, reached through the links back to the DOS devices.
    EXPECT_EQ(PortKey("\\\\?\\Global\\usb#vid_3b9e&pid_0001#1#{guid}"),
              PortKey("\\\\?\\usb#vid_3b9e&pid_0001#1#{guid}"));
    EXPECT_EQ(PortKey("\\??\\GLOBALROOT\\DosDevices\\CNCA0"), PortKey("\\\\.\\cnca0"));
    EXPECT_NE(PortKey("Global\\CNCA0"), PortKey("CNCA0"));
}

TEST(LeavesDosDevices, OnlyARootLinkToElsewhere) {
    const struct {
        const char* given;
        bool leaves;
    } cases[] = {
        {"\\\\.\\GLOBALROOT\\Device\\Serial0", true},
        {"\\\\?\\Global\\GLOBALROOT\\Sessions\\1\\DosDevices\\0-1234\\COM7", true},
        {"\\??\\GLOBALROOT\\GLOBAL??\\GLOBALROOT\\Device\\VCP0", true},
        {"\\\\.\\GLOBALROOT\\??\\COM7", false},
        {"\\\\.\\GLOBALROOT\\DosDevices\\CNCA0", false},
        {"\\\\.\\COM7", false},
        {"\\\\.\\GLOBALROOTX\\Device\\Serial0", false},
        {"GLOBALROOT\\Device\\Serial0", false},  // a file in the current folder
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LeavesDosDevices(c.given), c.leaves) << c.given;
    }
}

TEST(ControllerInstance, TellsTheControllerItsInterfacesAndItsSerial) {
    const struct {
        const char* instance;
        bool controller;
        bool interface_;
        const char* serial;
    } cases[] = {
        {"USB\\VID_3B9E&PID_0001\\ZL5-0042", true, false, "ZL5-0042"},
        {"usb\\vid_3b9e&pid_0001\\zl5-0042", true, false, "zl5-0042"},
        // No serial number: Windows names the device by where it is plugged.
        {"USB\\VID_3B9E&PID_0001\\5&2&0&1", true, false, ""},
        // An interface of a composite device: its serial is its parent's.
        {"USB\\VID_3B9E&PID_0001&MI_00\\6&1234&0&0000", true, true, ""},
        {"USB\\VID_3B9E&PID_00011\\X", false, false, "X"},
        {"USB\\VID_3B9E&PID_0002\\X", false, false, "X"},
        {"ACPI\\PNP0501\\1", false, false, "1"},
        {"USB\\VID_3B9E&PID_0001", false, false, ""},
        {"", false, false, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsControllerInstance(c.instance), c.controller) << c.instance;
        EXPECT_EQ(IsInterfaceInstance(c.instance), c.interface_) << c.instance;
        EXPECT_EQ(SerialOfInstance(c.instance), c.serial) << c.instance;
    }
}

TEST(LockObjectName, GlobalOneNamePerIdentityWhateverItsCase) {
    EXPECT_EQ(LockObjectName("COM5"), "Global\\fwburn-update-COM5");
    EXPECT_EQ(LockObjectName("com5"), LockObjectName("COM5"));
    EXPECT_EQ(LockObjectName("COM5", ".3"), "Global\\fwburn-update-COM5.3");
    // No backslash after the namespace: Windows would take it for a directory.
    const std::string usb = LockObjectName("usb USB\\VID_3B9E&PID_0001\\ZL5-0042 serial ZL5-0042");
    EXPECT_EQ(usb.find('\\', 7), std::string::npos) << usb;
    EXPECT_EQ(usb,
              "Global\\fwburn-update-USB%20USB%5CVID%5F3B9E%26PID%5F0001%5CZL5-0042%20"
              "SERIAL%20ZL5-0042");
    // Escapes never meet a plain name: '%' and '_' are escaped too.
    EXPECT_NE(LockObjectName("A_B"), LockObjectName("A%5FB"));
    EXPECT_NE(LockObjectName("A B"), LockObjectName("A%20B"));
}

TEST(LockObjectName, ALongIdentityKeepsItsStartAndADigestOfTheWhole) {
    const std::string start(300, 'A');
    const std::string a = LockObjectName(start + "1");
    const std::string b = LockObjectName(start + "2");
    EXPECT_LE(a.size(), 240u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.compare(0, 30, "Global\\fwburn-update-AAAAAAAAA"), 0);
    EXPECT_EQ(LockObjectName(start + "1", ".15").size(), a.size() + 3);
    // Two spellings of one long identity are one lock, digest included.
    EXPECT_EQ(LockObjectName(std::string(300, 'a') + "1"), a);
}

}  // namespace
}  // namespace fwburn

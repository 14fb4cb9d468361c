// The console program's Windows rules that need no Windows: the names that are devices, never a
// file for --extract-image nor, comm ports, for --trace, and the exit status of each console
// event.
#include <gtest/gtest.h>

#include <string>

#include "ui/console/win32/device_names.hpp"
#include "ui/console/win32/ending_events.hpp"

namespace fwburn::console {
namespace {

TEST(NamesADevice, EveryReservedNameInEveryFolderWithAnyExtension) {
    const struct {
        const char* path;
        bool device;
    } cases[] = {
        {"NUL", true},
        {"nul", true},
        {"nul.txt", true},
        {"NUL .bin", true},
        {"C:\\work\\nul", true},
        {"C:nul", true},
        {"NUL:", true},
        {"out/NUL.bin", true},
        {"CON", true},
        {"PRN", true},
        {"AUX", true},
        {"CONIN$", true},
        {"conout$", true},
        {"COM1", true},
        {"com9.log", true},
        {"LPT3", true},
        {"COM0", true},
        {"COM\xC2\xB9", true},  // COM and a superscript one
        {"lpt\xC2\xB2.bin", true},
        {"C:\\out\\COM\xC2\xB3", true},
        {"\\\\.\\COM12", true},
        {"\\\\.\\PhysicalDrive0", true},
        {"//./COM3", true},
        {"\\\\?\\GLOBALROOT\\Device\\Null", true},
        {"COM10", false},  // only one digit is reserved
        {"COM", false},
        {"CONSOLE", false},
        {"NULL", false},
        {"null.bin", false},
        {"image.bin", false},
        {"C:\\firmware\\COM1x.bin", false},
        {"\\\\?\\C:\\firmware\\image.bin", false},
        {"\\\\?\\UNC\\server\\share\\image.bin", false},
        {"\\\\server\\share\\image.bin", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NamesADevice(c.path), c.device) << c.path;
    }
}

TEST(EndingForControlEvent, TheLinuxStatusesWhereTheyMeanTheSame) {
    const struct {
        unsigned long event;
        const char* name;
        int status;
        bool endsOnReturn;
    } cases[] = {
        {0, "Ctrl+C", 130, false},        // SIGINT
        {1, "Ctrl+Break", 149, false},    // the runtime's SIGBREAK, 21
        {2, "console close", 129, true},  // SIGHUP: the terminal went away
        {5, "logoff", 143, true},         // SIGTERM
        {6, "shutdown", 143, true},      {42, "console close", 129, true},
    };
    for (const auto& c : cases) {
        const Ending ending = EndingForControlEvent(c.event);
        EXPECT_STREQ(ending.name, c.name) << c.event;
        EXPECT_EQ(ending.status, c.status) << c.event;
        EXPECT_EQ(EndsOnReturn(c.event), c.endsOnReturn) << c.event;
    }
    EXPECT_EQ(BrokenPipeEnding().status, 141);  // SIGPIPE
}

}  // namespace
}  // namespace fwburn::console

// The Windows link against Wine's devices: a serial port on a pseudo-terminal (by its
// device-namespace name, line speed, time-outs, discarded input) and the USB
// search over fixture interfaces. The test's runner links COM12, the controller's interface path
// and another vendor's to echoing pseudo-terminals and writes the fixture interfaces into the
// registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/win32/device_list.hpp"
#include "link/win32/usb_search.hpp"
#include "link/win32/win32_device.hpp"

namespace fwburn {
namespace {

TEST(SerialOpen, OpensComTenAndAboveByTheListedName) {
    Win32Device port;
    port.Attach(OpenSerialPort("COM12"));
    ASSERT_TRUE(port.IsOpen()) << "error " << GetLastError();
    EXPECT_TRUE(IsSerialPort(port.handle()));  // a pty behind a COM name has a line

    // The open asks for exclusive use (no sharing); Wine does not enforce that on a tty, so a
    // second open is not tested here.
    EXPECT_EQ(OpenSerialPort("COM3"), INVALID_HANDLE_VALUE);  // listed, nothing behind it
    EXPECT_EQ(OpenSerialPort(""), INVALID_HANDLE_VALUE);
}

TEST(SerialDevice, LineSettingsTimeoutsAndDiscardedInput) {
    Win32Device port;
    port.Attach(OpenSerialPort("COM12"));
    ASSERT_TRUE(port.IsOpen());

    LineSettings wanted;
    wanted.baudRate = 9600;
    wanted.byteSize = 7;
    wanted.parity = kEvenParity;
    wanted.stopBits = kOneStopBit;
    ASSERT_TRUE(port.SetLineSettings(wanted));
    LineSettings got;
    ASSERT_TRUE(port.GetLineSettings(got));
    // A pty keeps the speed it was set to but always reports 8 data bits and no parity: only the
    // speed can be read back here.
    EXPECT_EQ(got.baudRate, 9600u);
    wanted.baudRate = 115200;
    wanted.byteSize = 8;
    wanted.parity = kNoParity;
    ASSERT_TRUE(port.SetLineSettings(wanted));
    ASSERT_TRUE(port.GetLineSettings(got));
    EXPECT_EQ(got.baudRate, 115200u);

    Timeouts t;
    t.readInterval = kMaxDword;
    t.readTotalConstant = 400;
    t.writeTotalConstant = 400;
    ASSERT_TRUE(port.SetTimeouts(t));

    const uint8_t hello[] = {'H', 'E', 'L', 'L', 'O'};
    ASSERT_EQ(port.Write(hello, 5), 5u);
    uint8_t reply[8] = {};
    EXPECT_EQ(port.Read(reply, 5), 5u);
    EXPECT_EQ(std::memcmp(reply, hello, 5), 0);

    // Nothing comes: the read ends with what came, after about the total time-out.
    const DWORD start = GetTickCount();
    EXPECT_EQ(port.Read(reply, 5), 0u);
    const DWORD spent = GetTickCount() - start;
    EXPECT_GE(spent, 300u);
    EXPECT_LE(spent, 2000u);

    // A late echo that nobody read is dropped before the next request. The echo comes from
    // another process, in its own time: waited for, or a busy machine would bring it after the
    // discard.
    ASSERT_EQ(port.Write(hello, 2), 2u);
    DWORD errors = 0;
    COMSTAT status{};
    const DWORD sent = GetTickCount();
    while (ClearCommError(port.handle(), &errors, &status) && status.cbInQue < 2 &&
           GetTickCount() - sent < 10000) {
        Sleep(10);
    }
    EXPECT_EQ(port.DiscardInput(), 2u);
    EXPECT_EQ(port.Read(reply, 2), 0u);
}

// A write the far end takes only in part, or not at all (here a pipe that is full and does not
// wait), reports what went: the request is then sent again, not taken as sent.
TEST(SerialDevice, AWriteSaysHowMuchWent) {
    const std::string name = "\\\\.\\pipe\\fwburn-full-" + std::to_string(GetCurrentProcessId());
    const HANDLE server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND,
                                           PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 0, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    Win32Device device;
    device.Attach(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(device.IsOpen());
    DWORD mode = PIPE_NOWAIT;
    ASSERT_TRUE(SetNamedPipeHandleState(device.handle(), &mode, nullptr, nullptr));
    const std::vector<uint8_t> data(4 * 1024 * 1024, 'x');
    EXPECT_LT(device.Write(data.data(), static_cast<uint32_t>(data.size())), data.size());
    device.Close();
    CloseHandle(server);
}

TEST(UsbSearch, FindsTheControllerByItsLowerCasePath) {
    char path[kUsbPathSize];
    std::memset(path, 'x', sizeof path);
    ASSERT_EQ(GetUsbDeviceFileName(USB_DRIVER_GUID, path), 1);
    EXPECT_NE(std::strstr(path, "usb#vid_3b9e&pid_0001#"), nullptr) << path;
    EXPECT_EQ(std::strstr(path, "VID_3B9E"), nullptr) << path;  // the upper-case one never matches
    EXPECT_LT(std::strlen(path), sizeof path - 1);
}

// Every device of the class opens: only the path tells a controller, also for the console's look
// at every controller.
TEST(UsbSearch, ListsControllersOnly) {
    const std::vector<ControllerDevice> found = ListControllers();
    ASSERT_FALSE(found.empty());
    for (const ControllerDevice& c : found) {
        EXPECT_NE(c.path.find("usb#vid_3b9e&pid_0001#"), std::string::npos) << c.path;
    }
}

TEST(UsbSearch, NoInterfaceOfTheClassFindsNothing) {
    // An interface class that nothing exposes: the search reports nothing and leaves no path.
    const GUID none = {0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
    char path[kUsbPathSize];
    EXPECT_EQ(GetUsbDeviceFileName(none, path), 0);
    EXPECT_STREQ(path, "");
}

}  // namespace
}  // namespace fwburn

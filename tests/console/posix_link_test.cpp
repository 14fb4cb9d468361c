#include "ui/console/posix/posix_link.hpp"
#include "ui/console/show/wording.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "link/posix/termios_map.hpp"

namespace fwburn::console {
namespace {

TEST(ShortPortNameTest, FitsTheWorkersNineCharacters) {
    const std::pair<const char*, const char*> cases[] = {
        {"/dev/ttyUSB0", "ttyUSB0"},
        {"/dev/pts/12", "pts/12"},
        {"/dev/serial/by-id/usb-Korvan_PLC-if00", "usb-Korva"},  // cut, never longer
        {"/dev/ttyUSB1234", "ttyUSB123"},
        {"/tmp/plcsim/ttyPLC", "ttyPLC"},
        {"/tmp/12345678\xC3\xA9", "12345678"},  // never half a character
        {"ttyS0", "ttyS0"},
        {"\\\\.\\COM12", "COM12"},  // as the window names it
        {"", ""},
    };
    for (const auto& [path, name] : cases) {
        EXPECT_EQ(ShortPortName(path), name) << path;
    }
}

TEST(PosixLinkTest, FailuresSayWhichPortAndWhy) {
    std::string why;
    PosixLink missing("/dev/ttyNOPE9");
    EXPECT_EQ(missing.Open(false, why), nullptr);
    EXPECT_EQ(why, "/dev/ttyNOPE9: no such port");

    PosixLink none("");
    EXPECT_EQ(none.Open(false, why), nullptr);
    EXPECT_EQ(why, "no serial port found (give one with --port)");
}

// The process ends while the worker opens a port (the release gives up waiting for the open):
// that port takes no request, whose reply could lead to an erase the last words leave out.
TEST(PosixLinkTest, APortOpenedWhileTheProcessEndsTakesNoWrite) {
    int master = -1;
    int slave = -1;
    char name[64] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    PosixLink* self = nullptr;
    PosixLink link(
        [&]() -> std::optional<std::string> {
            std::thread([self] {
                self->ReleaseForExit(std::chrono::steady_clock::now() +
                                     std::chrono::milliseconds(300));
            }).join();  // mid-open, the lock held
            return std::string(name);
        },
        "absent");
    self = &link;
    std::string why;
    Device* port = link.Open(false, why);
    ASSERT_NE(port, nullptr) << why;
    const uint8_t request[] = {':', '0', '1', '\r', '\n'};
    EXPECT_EQ(port->Write(request, sizeof request), 0u);
    pollfd p{master, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 100), 0) << "bytes reached the PLC's side";
    link.Close(port);
    close(master);
}

// The switch to the transfer's settings asks for DTR and RTS low: a serial model's port lowers
// them, the USB link (a USB modem, which may stop sending without DTR) keeps them raised.
TEST(PosixLinkTest, OnlyTheUsbLinkKeepsItsModemLinesRaised) {
    for (const bool usb : {false, true}) {
        int master = -1;
        int slave = -1;
        char name[64] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        close(slave);
        PosixLink link(name);
        std::string why;
        Device* port = link.Open(usb, why);
        ASSERT_NE(port, nullptr) << why;
        EXPECT_TRUE(port->SetLineSettings({115200, 8, kNoParity, kOneStopBit, 0, 0}));
        LineSettings now;
        ASSERT_TRUE(port->GetLineSettings(now));
        EXPECT_EQ(now.baudRate, 115200u) << usb;
        EXPECT_EQ(now.dtrControl, usb ? fwburn::posix::kControlEnabled : kControlDisabled) << usb;
        EXPECT_EQ(now.rtsControl, usb ? fwburn::posix::kControlEnabled : kControlDisabled) << usb;
        link.Close(port);
        close(master);
    }
}

}  // namespace
}  // namespace fwburn::console

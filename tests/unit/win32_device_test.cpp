// The Win32 device's line settings against a stand-in driver: the fields the updater names are
// written over what the port reported, flow control and character handling go off, every other
// field stays, and a handle that cannot report its settings is asked to take them all the same.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "link/win32/win32_device.hpp"

namespace fwburn {
namespace {

// What the stand-in driver holds and what it was asked.
struct Driver {
    bool readable = true;  // GetCommState succeeds
    bool writable = true;  // SetCommState succeeds
    DCB port{};            // the port's settings as GetCommState reports them
    int gets = 0;
    int sets = 0;
    DCB written{};
};
Driver driver;

BOOL WINAPI FakeGet(HANDLE, LPDCB dcb) {
    ++driver.gets;
    if (!driver.readable) {
        std::memset(dcb, 0xA5, sizeof *dcb);  // a failed read may leave anything behind
        return FALSE;
    }
    *dcb = driver.port;
    return TRUE;
}

BOOL WINAPI FakeSet(HANDLE, LPDCB dcb) {
    ++driver.sets;
    driver.written = *dcb;
    return driver.writable ? TRUE : FALSE;
}

DCB PortAsFound() {
    DCB d{};
    d.DCBlength = sizeof d;
    d.BaudRate = 19200;
    d.fBinary = TRUE;
    d.fParity = TRUE;
    // What a terminal program or the Device Manager's "Xon / Xoff" and "Hardware" leave behind.
    d.fOutxCtsFlow = TRUE;
    d.fOutxDsrFlow = TRUE;
    d.fDsrSensitivity = TRUE;
    d.fOutX = TRUE;
    d.fInX = TRUE;
    d.fNull = TRUE;
    d.fErrorChar = TRUE;
    d.ErrorChar = '?';
    d.fAbortOnError = TRUE;  // what a program that handles its own line errors leaves
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    d.XonLim = 2048;
    d.XoffLim = 512;
    d.ByteSize = 8;
    d.Parity = ODDPARITY;
    d.StopBits = TWOSTOPBITS;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    d.EofChar = 0x1A;
    return d;
}

class LineSettingsThroughDriver : public ::testing::Test {
  protected:
    void SetUp() override {
        driver = Driver{};
        driver.port = PortAsFound();
        // Any real handle: the stand-in calls never look at it, CloseHandle does.
        device.Attach(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(device.IsOpen());
    }

    Win32Device device{CommStateCalls{FakeGet, FakeSet}};
    const LineSettings transfer{115200, 8, kNoParity, kOneStopBit, 0, 0};
};

TEST_F(LineSettingsThroughDriver, NamedFieldsChangeTheRestStays) {
    EXPECT_TRUE(device.SetLineSettings(transfer));
    ASSERT_EQ(driver.sets, 1);
    const DCB& w = driver.written;
    EXPECT_EQ(w.DCBlength, 28u);
    EXPECT_EQ(w.BaudRate, 115200u);
    EXPECT_EQ(w.ByteSize, 8);
    EXPECT_EQ(w.Parity, NOPARITY);
    EXPECT_EQ(w.StopBits, ONESTOPBIT);
    EXPECT_EQ(w.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(w.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    // Everything else as the port reported it.
    const DCB p = PortAsFound();
    EXPECT_EQ(w.fBinary, p.fBinary);
    EXPECT_EQ(w.fParity, p.fParity);
    EXPECT_EQ(w.ErrorChar, p.ErrorChar);
    EXPECT_EQ(w.XonLim, p.XonLim);
    EXPECT_EQ(w.XoffLim, p.XoffLim);
    EXPECT_EQ(w.XonChar, p.XonChar);
    EXPECT_EQ(w.XoffChar, p.XoffChar);
    EXPECT_EQ(w.EofChar, p.EofChar);

    LineSettings read;
    driver.port = w;
    ASSERT_TRUE(device.GetLineSettings(read));
    EXPECT_EQ(read, transfer);
}

// Nothing the port had may hold a write, drop a reply's 0x00, take a block's 0x11 and 0x13 for
// flow control or stop the port at a line error: with RTS off (the updater's only choice) every
// such field goes off; an RTS handshake asked for keeps CTS output flow, as the POSIX link's
// CRTSCTS does.
TEST_F(LineSettingsThroughDriver, FlowControlAndCharacterHandlingGoOff) {
    for (uint8_t rts : {uint8_t{RTS_CONTROL_DISABLE}, uint8_t{RTS_CONTROL_HANDSHAKE}}) {
        LineSettings asked = transfer;
        asked.rtsControl = rts;
        ASSERT_TRUE(device.SetLineSettings(asked));
        const DCB& w = driver.written;
        EXPECT_EQ(w.fOutxCtsFlow, rts == RTS_CONTROL_HANDSHAKE ? 1u : 0u) << int{rts};
        EXPECT_EQ(w.fOutxDsrFlow, 0u) << int{rts};
        EXPECT_EQ(w.fDsrSensitivity, 0u) << int{rts};
        EXPECT_EQ(w.fOutX, 0u) << int{rts};
        EXPECT_EQ(w.fInX, 0u) << int{rts};
        EXPECT_EQ(w.fNull, 0u) << int{rts};
        EXPECT_EQ(w.fErrorChar, 0u) << int{rts};
        EXPECT_EQ(w.fAbortOnError, 0u) << int{rts};
    }
}

// The controller's USB link keeps DTR and RTS raised through every line setting, whatever the
// port had; a new handle asks as it is told again.
TEST_F(LineSettingsThroughDriver, TheUsbLinkKeepsItsModemLinesRaised) {
    driver.port.fDtrControl = DTR_CONTROL_DISABLE;
    driver.port.fRtsControl = RTS_CONTROL_DISABLE;
    device.KeepModemLines();
    for (bool reattached : {false, true}) {
        if (reattached) {
            device.Attach(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        }
        ASSERT_TRUE(device.SetLineSettings(transfer));
        const DCB& w = driver.written;
        EXPECT_EQ(w.fDtrControl,
                  static_cast<DWORD>(reattached ? DTR_CONTROL_DISABLE : DTR_CONTROL_ENABLE));
        EXPECT_EQ(w.fRtsControl,
                  static_cast<DWORD>(reattached ? RTS_CONTROL_DISABLE : RTS_CONTROL_ENABLE));
        EXPECT_EQ(w.fOutxCtsFlow, 0u);
        EXPECT_EQ(w.BaudRate, 115200u);
    }
}

// A handle whose settings cannot be read (a USB device, or a driver that refuses the read) still
// gets the write, with the named fields and nothing left over from the failed read.
TEST_F(LineSettingsThroughDriver, UnreadableSettingsAreWrittenAllTheSame) {
    for (bool writable : {true, false}) {
        driver.readable = false;
        driver.writable = writable;
        driver.sets = 0;
        LineSettings read;
        EXPECT_FALSE(device.GetLineSettings(read));
        EXPECT_EQ(device.SetLineSettings(transfer), writable);
        ASSERT_EQ(driver.sets, 1) << writable;
        const DCB& w = driver.written;
        EXPECT_EQ(w.DCBlength, 28u);
        EXPECT_EQ(w.BaudRate, 115200u);
        EXPECT_EQ(w.ByteSize, 8);
        EXPECT_EQ(w.Parity, NOPARITY);
        EXPECT_EQ(w.StopBits, ONESTOPBIT);
        EXPECT_EQ(w.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
        EXPECT_EQ(w.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
        EXPECT_EQ(w.fBinary, 1u);
        EXPECT_EQ(w.XonLim, 0);
        EXPECT_EQ(w.XonChar, 0);
    }
}

TEST_F(LineSettingsThroughDriver, ClosedHandleAsksNothing) {
    device.Close();
    LineSettings read;
    EXPECT_FALSE(device.GetLineSettings(read));
    EXPECT_FALSE(device.SetLineSettings(transfer));
    EXPECT_EQ(driver.gets, 0);
    EXPECT_EQ(driver.sets, 0);
}

}  // namespace
}  // namespace fwburn

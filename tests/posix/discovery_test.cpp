#include "link/posix/discovery.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/posix/usb_open.hpp"
#include "tests/posix/fake_sysfs.hpp"
#include "tests/posix/pty.hpp"

namespace fwburn::posix::test {
namespace {

namespace fs = std::filesystem;

TEST(Discovery, ListsRealPortsOnceAndSkipsGhostsAndConsoles) {
    FakeSysfs t;
    t.AddTty("ttyS0", "pnp0/00:01", "4");
    t.AddTty("ttyS1", "platform/serial8250", "0");  // slot without a UART
    t.AddTty("ttyS2", "platform/serial8250", "4");  // no /dev node
    t.AddTty("tty1", "");
    t.AddTty("console", "");
    t.AddTty("ptmx", "");
    t.AddUsbTty("ttyACM0", "pci0000:00/usb1/1-1", "3b9e", "0001");
    t.AddUsbTty("ttyUSB0", "pci0000:00/usb1/1-2", "0403", "6001");
    for (const char* node :
         {"ttyS0", "ttyS1", "tty1", "console", "ptmx", "ttyACM0", "ttyUSB0", "ttyUSB5"}) {
        t.AddDevNode(node);
    }
    t.AddById("usb-Korvan_ZL500-if00", "../../ttyACM0");       // same port as the sysfs entry
    t.AddById("usb-FTDI_FT232R-if00-port0", "../../ttyUSB5");  // no sysfs entry
    t.AddById("usb-gone-if00", "../../ttyUSB7");               // stale

    // The kernel's console, wherever it was put (console=ttyS0, console=ttyUSB0), is no PLC's port.
    const std::string consoles = t.sys() + "/../consoles";
    const std::string d = t.dev() + "/";
    const struct {
        const char* consoles;  // nullptr: no such file
        std::vector<std::string> listed;
    } cases[] = {
        {nullptr, {d + "ttyACM0", d + "ttyS0", d + "ttyUSB0", d + "ttyUSB5"}},
        {"tty0                 -WU (EC  p  )    4:1\n",
         {d + "ttyACM0", d + "ttyS0", d + "ttyUSB0", d + "ttyUSB5"}},
        {"ttyS0                -W- (EC  p a)    4:64\n",
         {d + "ttyACM0", d + "ttyUSB0", d + "ttyUSB5"}},
        {"tty0                 -WU (E   p  )    4:1\nttyUSB5              -W- (EC   a)  188:5\n",
         {d + "ttyACM0", d + "ttyS0", d + "ttyUSB0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.consoles != nullptr ? c.consoles : "no consoles file");
        if (c.consoles != nullptr) {
            std::ofstream(consoles) << c.consoles;
        }
        EXPECT_EQ(ListSerialPorts(t.sys(), t.dev(), consoles), c.listed);
    }
}

TEST(Discovery, MissingTreesGiveNothing) {
    EXPECT_TRUE(ListSerialPorts("/nonexistent/sys", "/nonexistent/dev").empty());
    EXPECT_FALSE(FindUsbControllerTty("/nonexistent/sys", "/nonexistent/dev"));
}

TEST(Discovery, ControllerIsTheNearestUsbDeviceWithItsIds) {
    struct Case {
        const char* name;
        const char* vendor;
        const char* product;
        const char* hubVendor;  // of the hub the device hangs on
        const char* hubProduct;
        bool found;
    };
    const Case cases[] = {
        {"controller", "3b9e", "0001", "1d6b", "0002", true},
        {"other product", "3b9e", "0002", "1d6b", "0002", false},
        {"other vendor", "1234", "0001", "1d6b", "0002", false},
        {"only the hub above matches", "0403", "6001", "3b9e", "0001", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSysfs t;
        t.AddUsbDevice("pci0000:00/usb1/1-4", c.hubVendor, c.hubProduct);
        t.AddUsbTty("ttyACM0", "pci0000:00/usb1/1-4/1-4.2", c.vendor, c.product);
        t.AddDevNode("ttyACM0");
        const std::optional<std::string> tty = FindUsbControllerTty(t.sys(), t.dev());
        EXPECT_EQ(tty, c.found ? std::optional(t.dev() + "/ttyACM0") : std::nullopt);
    }
}

TEST(Discovery, TwoControllersAreFoundInNameOrder) {
    FakeSysfs t;
    t.AddUsbTty("ttyACM2", "pci0000:00/usb1/1-2", "3b9e", "0001");
    t.AddUsbTty("ttyACM1", "pci0000:00/usb1/1-3", "3b9e", "0002");
    t.AddUsbTty("ttyACM0", "pci0000:00/usb1/1-1", "3b9e", "0001");
    t.AddUsbTty("ttyACM3", "pci0000:00/usb1/1-4", "3b9e", "0001");  // no /dev node: not openable
    for (const char* node : {"ttyACM0", "ttyACM1", "ttyACM2"}) {
        t.AddDevNode(node);
    }
    EXPECT_EQ(FindUsbControllerTtys(t.sys(), t.dev()),
              (std::vector<std::string>{t.dev() + "/ttyACM0", t.dev() + "/ttyACM2"}));
}

TEST(Discovery, UsbOpenPassesOverAControllerThatIsHeld) {
    Pty first;
    Pty second;
    ASSERT_TRUE(first.ok() && second.ok());
    FakeSysfs t;
    t.AddUsbTty("ttyACM0", "pci0000:00/usb1/1-1", "3b9e", "0001");
    t.AddUsbTty("ttyACM1", "pci0000:00/usb1/1-2", "3b9e", "0001");
    t.AddDevNode("ttyACM0", first.slavePath());
    t.AddDevNode("ttyACM1", second.slavePath());

    std::unique_ptr<PosixDevice> holder = OpenSerialPort(first.slavePath());
    ASSERT_TRUE(holder);
    std::unique_ptr<PosixDevice> device = OpenUsbController(nullptr, t.sys(), t.dev());
    ASSERT_TRUE(device);
    EXPECT_EQ(device->path(), t.dev() + "/ttyACM1");

    OpenFailure failure;
    EXPECT_FALSE(OpenUsbController(&failure, t.sys(), t.dev()));
    EXPECT_EQ(failure.reason, OpenError::kBusy);
    EXPECT_FALSE(OpenUsbController(&failure, t.dev(), t.dev()));
    EXPECT_EQ(failure.reason, OpenError::kMissing);
}

// An attribute the kernel gives some USB devices and not others.
void WriteAttribute(const FakeSysfs& t, const std::string& device, const char* name,
                    const std::string& value) {
    std::ofstream(t.sys() + "/devices/" + device + "/" + name) << value << "\n";
}

TEST(Discovery, ControllersCarryTheirSocketSerialAndProduct) {
    FakeSysfs t;
    t.AddUsbDevice("pci0000:00/usb1/1-1", "1d6b", "0002");  // a hub: its details are no one's
    WriteAttribute(t, "pci0000:00/usb1/1-1", "serial", "HUB");
    t.AddUsbTty("ttyACM0", "pci0000:00/usb1/1-1/1-1.2", "3b9e", "0001");
    WriteAttribute(t, "pci0000:00/usb1/1-1/1-1.2", "serial", "ZL5-0042");
    WriteAttribute(t, "pci0000:00/usb1/1-1/1-1.2", "product", "ZL500 PLC");
    t.AddUsbTty("ttyACM1", "pci0000:00/usb1/1-1/1-1.3", "3b9e", "0001");  // no serial, no name
    t.AddUsbTty("ttyUSB0", "pci0000:00/usb1/1-2", "0403", "6001");        // not a controller
    for (const char* node : {"ttyACM0", "ttyACM1", "ttyUSB0"}) {
        t.AddDevNode(node);
    }
    const std::vector<UsbPort> found = FindUsbControllers(t.sys(), t.dev());
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].tty, t.dev() + "/ttyACM0");
    EXPECT_EQ(found[0].physical, "1-1.2");
    EXPECT_EQ(found[0].serial, "ZL5-0042");
    EXPECT_EQ(found[0].product, "ZL500 PLC");
    EXPECT_EQ(found[0].vendorId + ":" + found[0].productId, "3b9e:0001");
    EXPECT_EQ(found[0].Identity(), "usb 1-1.2 serial ZL5-0042");
    EXPECT_EQ(found[1].physical, "1-1.3");
    EXPECT_EQ(found[1].serial, "");  // the hub's serial is not the device's
    EXPECT_EQ(found[1].product, "");
    EXPECT_EQ(found[1].Identity(), "usb 1-1.3");

    // Any tty with a USB device above it is described, by its /dev path or through a link.
    t.AddById("usb-FTDI-if00", "../../ttyUSB0");
    const std::optional<UsbPort> adapter =
        DescribeUsbTty(t.dev() + "/serial/by-id/usb-FTDI-if00", t.sys(), t.dev());
    ASSERT_TRUE(adapter);
    EXPECT_EQ(adapter->physical, "1-2");
    EXPECT_EQ(adapter->vendorId, "0403");
    t.AddTty("ttyS0", "pnp0/00:01", "4");
    EXPECT_FALSE(DescribeUsbTty("/dev/ttyS0", t.sys(), t.dev()));
}

// Only the node in /dev, or a link to it, is the tty of its name: a file or link of that name
// elsewhere opens something else, and describing it as the controller would update the wrong one.
TEST(Discovery, ATtyNameOutsideDevIsNotThatTty) {
    FakeSysfs t;
    t.AddUsbTty("ttyACM0", "pci0000:00/usb1/1-1", "3b9e", "0001");
    t.AddUsbTty("ttyUSB0", "pci0000:00/usb1/1-2", "0403", "6001");
    t.AddDevNode("ttyACM0");
    t.AddDevNode("ttyUSB0");
    t.AddById("usb-Korvan_ZL500-if00", "../../ttyACM0");
    const std::string elsewhere = t.dev() + "/../elsewhere";
    fs::create_directories(elsewhere + "/by-name");
    std::ofstream(elsewhere + "/ttyACM0").close();
    fs::create_symlink(t.dev() + "/ttyUSB0", elsewhere + "/by-name/ttyACM0");
    fs::create_symlink(t.dev() + "/ttyACM0", elsewhere + "/plc");
    const struct {
        std::string path;
        const char* physical;  // nullptr: not described
    } cases[] = {
        {t.dev() + "/ttyACM0", "1-1"},
        {t.dev() + "/serial/by-id/usb-Korvan_ZL500-if00", "1-1"},
        {elsewhere + "/plc", "1-1"},
        {elsewhere + "/ttyACM0", nullptr},
        {elsewhere + "/by-name/ttyACM0", "1-2"},
        {"ttyACM0", nullptr},  // relative to a directory without it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const std::optional<UsbPort> port = DescribeUsbTty(c.path, t.sys(), t.dev() + "/");
        ASSERT_EQ(port.has_value(), c.physical != nullptr);
        if (port) {
            EXPECT_EQ(port->physical, c.physical);
        }
    }
}

// A tree laid out by hand (FWBURN_SYSFS_ROOT) is read as the kernel's would be: one page of an
// attribute at most, and never an open that waits. A writer comes to the FIFO after 2 s, so that
// an open that waits for one shows as slow instead of hanging the test.
TEST(Discovery, HostileAttributesNeitherHoldUpNorSwellTheLookup) {
    FakeSysfs t;
    const std::string device = "pci0000:00/usb1/1-1";
    t.AddUsbTty("ttyACM0", device, "3b9e", "0001");
    t.AddDevNode("ttyACM0");
    const std::string serial = t.sys() + "/devices/" + device + "/serial";
    ASSERT_EQ(mkfifo(serial.c_str(), 0600), 0);
    std::ofstream(t.sys() + "/devices/" + device + "/product") << std::string(1 << 20, 'P');

    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 200 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        while (!done) {
            const int fd = open(serial.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                close(fd);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const std::vector<UsbPort> found = FindUsbControllers(t.sys(), t.dev());
    const auto took = std::chrono::steady_clock::now() - start;
    done = true;
    writer.join();
    EXPECT_LT(took, std::chrono::seconds(1));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].serial, "");
    EXPECT_EQ(found[0].product.size(), 4096u);  // a page, as sysfs gives at most
}

// After a replug the kernel may hand the tty names out the other way round: the socket and the
// serial number find each controller again.
TEST(Discovery, AControllerIsFoundAgainBySocketWhenTtyNamesSwap) {
    struct Case {
        const char* name;
        const char* physical;
        const char* serial;
        const char* before;  // its tty before the replug
        const char* after;   // and after; empty: not found
    };
    const Case cases[] = {
        {"first socket", "1-1.2", "A1", "ttyACM0", "ttyACM1"},
        {"second socket", "1-1.3", "B2", "ttyACM1", "ttyACM0"},
        {"socket alone", "1-1.3", "", "ttyACM1", "ttyACM0"},
        {"another device now in that socket", "1-1.2", "Z9", "", ""},
        {"nothing in that socket", "1-1.4", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool swapped : {false, true}) {
            FakeSysfs t;
            const char* first = swapped ? "ttyACM1" : "ttyACM0";
            const char* second = swapped ? "ttyACM0" : "ttyACM1";
            t.AddUsbTty(first, "pci0000:00/usb1/1-1/1-1.2", "3b9e", "0001");
            WriteAttribute(t, "pci0000:00/usb1/1-1/1-1.2", "serial", "A1");
            t.AddUsbTty(second, "pci0000:00/usb1/1-1/1-1.3", "3b9e", "0001");
            WriteAttribute(t, "pci0000:00/usb1/1-1/1-1.3", "serial", "B2");
            t.AddDevNode("ttyACM0");
            t.AddDevNode("ttyACM1");
            const char* want = swapped ? c.after : c.before;
            EXPECT_EQ(FindControllerTty(c.physical, c.serial, t.sys(), t.dev()),
                      *want != 0 ? std::optional(t.dev() + "/" + want) : std::nullopt)
                << (swapped ? "after" : "before");
        }
    }
}

// A device with two ttys: a reopen finds the tty of its own interface, not the device's first.
TEST(Discovery, EachTtyOfOneDeviceIsFoundAgainByItsInterface) {
    FakeSysfs t;
    t.AddUsbTty("ttyACM0", "pci0000:00/usb1/1-1/1-1.2", "3b9e", "0001");
    t.AddTty("ttyACM1", "pci0000:00/usb1/1-1/1-1.2/1-1.2:1.2");
    t.AddDevNode("ttyACM0");
    t.AddDevNode("ttyACM1");
    const std::string d = t.dev() + "/";
    EXPECT_EQ(DescribeUsbTty(d + "ttyACM1", t.sys(), t.dev())->usbInterface, "1-1.2:1.2");
    // An adapter's tty hangs on a port below the interface, named as the tty: not stable.
    t.AddUsbDevice("pci0000:00/usb1/1-1/1-1.3", "0403", "6001");
    t.AddTty("ttyUSB0", "pci0000:00/usb1/1-1/1-1.3/1-1.3:1.0/ttyUSB0");
    t.AddDevNode("ttyUSB0");
    EXPECT_EQ(DescribeUsbTty(d + "ttyUSB0", t.sys(), t.dev())->usbInterface, "1-1.3:1.0");
    for (const auto& [usbInterface, want] : std::vector<std::pair<std::string, std::string>>{
             {"1-1.2:1.0", "ttyACM0"}, {"1-1.2:1.2", "ttyACM1"}, {"", "ttyACM0"}}) {
        EXPECT_EQ(FindControllerTty("1-1.2", "", t.sys(), t.dev(), usbInterface), d + want);
    }
}

}  // namespace
}  // namespace fwburn::posix::test

#include "ui/console/posix/posix_link.hpp"
#include "ui/console/show/wording.hpp"

#include <gtest/gtest.h>

#include <utility>

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

}  // namespace
}  // namespace fwburn::console

// The plcsim program on a real pseudo-terminal, driven by a host made of raw bytes and termios.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "sim/crc.hpp"
#include "tests/plcsim/plcsim_process.hpp"

namespace fwburn::sim::plcsim::test {
namespace {

const std::string kModeQuery = ":006401590141\r\n";
const std::string kAnalogModeQuery = ":0064015B013F\r\n";
const std::string kModeReply = ":006401590500003D\r\n";
const std::string kIdQuery = ":006401594944B5\r\n";
const std::string kUpdateRequest = ":006401594552415345D2\r\n";
const std::string kUpdateAck = ":00640159063C\r\n";
const std::string kAck = "\x06";
const std::string kEot = "\x04";

// plcsim notes a close when it next looks at the master, in its own time: a host that opened the
// port again before then would be taken for the same session.
constexpr char kClosed[] = "the host closed the port";

std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        c = static_cast<char>(rng());
    }
    return s;
}

// STX, number, complement, the data filled up to `size` with 0x1A, CRC high byte first.
std::string BlockFrame(uint8_t number, std::string data, size_t size) {
    data.resize(size, '\x1A');
    const uint16_t crc = Crc16Xmodem(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    return std::string{'\x02', static_cast<char>(number), static_cast<char>(255 - number)} + data +
           static_cast<char>(crc >> 8) + static_cast<char>(crc & 0xFF);
}

std::string WriteTemp(const std::string& name, const std::string& bytes) {
    const std::string path = TempPath(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

TEST(PlcsimStart, NamesItsPortOnTheFirstLineAndLinksIt) {
    const std::string link = TempPath("link");
    ASSERT_EQ(symlink("/dev/pts/no-such-pty", link.c_str()), 0);  // left by a killed plcsim
    {
        PlcsimProcess plcsim({"--link", link});
        const std::string port = plcsim.port();
        EXPECT_TRUE(
            std::regex_match(plcsim.firstLine(), std::regex("plcsim: ZL500 on /dev/pts/[0-9]+")))
            << plcsim.firstLine();
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(target, port);
        Host host(link);
        ASSERT_TRUE(host.ok());
        EXPECT_EQ(host.Ask(kModeQuery, 19), kModeReply);
        host.Close();
        EXPECT_EQ(plcsim.Stop(), 0) << plcsim.Stderr();
    }
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0);  // removed at exit
}

TEST(PlcsimApplication, AnswersTheModeQueryAndRecordsEveryBaudRate) {
    const std::string json = TempPath("summary.json");
    PlcsimProcess plcsim({"--summary-json", json});
    Host host(plcsim.port());
    ASSERT_TRUE(host.ok());
    EXPECT_EQ(host.Ask(kModeQuery, 19), kModeReply);
    ASSERT_TRUE(host.SetBaud(B115200));
    EXPECT_EQ(host.Ask(kModeQuery, 19), kModeReply);
    ASSERT_TRUE(host.SetBaud(B9600));
    EXPECT_EQ(host.Ask(kModeQuery, 19), kModeReply);
    EXPECT_EQ(plcsim.Stop(), 0) << plcsim.Stderr();

    const std::string summary = ReadText(json);
    EXPECT_EQ(JsonField(summary, "baudRates"), "[9600, 115200, 9600]");
    EXPECT_EQ(JsonField(summary, "model"), "\"ZL500\"");
    EXPECT_EQ(JsonField(summary, "state"), "\"application\"");
    EXPECT_EQ(JsonField(summary, "hostOpens"), "1");
    EXPECT_EQ(JsonField(summary, "bytesReceived"), "45");
    EXPECT_EQ(JsonField(summary, "bytesSent"), "57");
    EXPECT_EQ(JsonField(summary, "violationCount"), "0");
    EXPECT_NE(JsonField(summary, "requests").find("\"mode-query\": 3"), std::string::npos);
    EXPECT_NE(plcsim.Stderr().find("baud rates:        9600, 115200, 9600"), std::string::npos);
    unlink(json.c_str());
}

// A serial model checks the baud rate of what it receives; the pty shows no framing.
TEST(PlcsimApplication, ASerialModelChecksTheBaudRate) {
    struct Case {
        speed_t speed;
        int status;
        const char* violations;
    };
    const Case cases[] = {
        {B9600, 0, "0"},
        {B19200, 1, "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.violations);
        const std::string json = TempPath("summary.json");
        PlcsimProcess plcsim({"--model", "MN6", "--image-length", "4096", "--summary-json", json});
        Host host(plcsim.port());
        ASSERT_TRUE(host.SetBaud(c.speed));
        EXPECT_EQ(host.Ask(kModeQuery, 19), kModeReply);
        EXPECT_EQ(plcsim.Stop(), c.status);
        const std::string summary = ReadText(json);
        EXPECT_EQ(JsonField(summary, "violationCount"), c.violations);
        if (c.status != 0) {
            EXPECT_NE(summary.find("mode query at 19200 8N1, expected 9600 7E1"), std::string::npos)
                << summary;
            EXPECT_NE(plcsim.Stderr().find("violations:        1"), std::string::npos);
        }
        unlink(json.c_str());
    }
}

TEST(PlcsimFaults, TheCommandLineFaultsReachTheController) {
    struct Exchange {
        std::string request;
        std::string reply;  // "" for none
    };
    struct Case {
        std::vector<std::string> args;
        std::vector<Exchange> exchanges;
    };
    const Case cases[] = {
        {{"--fault", "silent"}, {{kModeQuery, ""}}},
        {{"--fault", "lower-case@mode-query"}, {{kModeQuery, ":006401590500003d\r\n"}}},
        {{"--fault", "error=2/1@mode-query"}, {{kModeQuery, ":006401591502012A\r\n"}}},
        {{"--fault", "boot-at-power-on", "--fault", "nak@boot-id"}, {{"ID", "\x15\x30\x10"}}},
        {{"--fault", "boot-at-power-on", "--fault", "boot-id=0x2001"}, {{"ID", "\x06\x20\x01"}}},
        {{"--fault", "boot-at-power-on", "--fault", "version=0.9"},
         {{"VERSION", std::string("\x06\x00\x90", 3)}}},
        {{"--fault", "boot-at-power-on", "--fault", "silence@boot-id:1x1"},
         {{"ID", "\x06\x30\x10"}, {"ID", ""}, {"ID", "\x06\x30\x10"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        PlcsimProcess plcsim(c.args);
        Host host(plcsim.port());
        ASSERT_TRUE(host.ok());
        for (const Exchange& e : c.exchanges) {
            ASSERT_TRUE(host.Send(e.request));
            // Silence is judged after a wait far beyond the 5 ms turn-around.
            EXPECT_EQ(host.Read(std::max<size_t>(e.reply.size(), 1), e.reply.empty() ? 300 : 2000),
                      e.reply);
        }
        EXPECT_EQ(plcsim.Stop(), 0) << plcsim.Stderr();
    }
}

TEST(PlcsimBootloader, TakesAnImageBlockByBlockAndWritesTheFlash) {
    const std::string image = RandomBytes(600, 7);  // 3 blocks, 168 fill bytes in the last
    const std::string imagePath = WriteTemp("image.bin", image);
    const std::string flash = TempPath("flash.bin");
    const std::string json = TempPath("summary.json");
    PlcsimProcess plcsim({"--model", "ZL500-AIO", "--image", imagePath, "--fault",
                          "boot-at-power-on", "--exit-after-update", "--flash-out", flash,
                          "--summary-json", json});
    Host host(plcsim.port());
    ASSERT_TRUE(host.ok());
    EXPECT_EQ(host.Ask("ID", 3), "\x06\x30\x10");
    EXPECT_EQ(host.Ask("ERASE", 1), kAck);  // 600 bytes: one 2 KiB step
    EXPECT_EQ(host.Ask(kEot, 1), kAck);
    EXPECT_EQ(host.Ask("UPDATE", 1), kAck);
    ASSERT_TRUE(host.SetBaud(B115200));
    for (uint8_t n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        const std::string data = image.substr((n - 1) * 256u, 256);
        EXPECT_EQ(host.Ask(BlockFrame(n, data, 256), 1), kAck);
    }
    EXPECT_EQ(host.Ask(kEot, 1), kAck);
    // The host keeps the port open: plcsim ends by itself once the last ACK is out.
    EXPECT_EQ(plcsim.Wait(4000), 0) << plcsim.Stderr();

    EXPECT_EQ(ReadText(flash), image);
    const std::string summary = ReadText(json);
    EXPECT_EQ(JsonField(summary, "transferComplete"), "true");
    EXPECT_EQ(JsonField(summary, "flashMatchesImage"), "true");
    EXPECT_EQ(JsonField(summary, "blocksTaken"), "3");
    EXPECT_EQ(JsonField(summary, "eraseSteps"), "1");
    EXPECT_EQ(JsonField(summary, "flashBytes"), "768");
    EXPECT_EQ(JsonField(summary, "imageBytesReceived"), "600");
    EXPECT_EQ(JsonField(summary, "state"), "\"transfer done\"");
    EXPECT_EQ(JsonField(summary, "baudRates"), "[9600, 115200]");
    EXPECT_EQ(JsonField(summary, "endReason"), "\"the transfer is complete\"");
    EXPECT_EQ(JsonField(summary, "violations"), "[]");
    for (const std::string& p : {imagePath, flash, json}) {
        unlink(p.c_str());
    }
}

// On a pty the host's close stands for the operator's replug or power cycle, or a signal does.
TEST(PlcsimReconnect, AfterAnAcceptedUpdateRequestTheReopenedPortFindsTheBootloader) {
    struct Case {
        const char* model;
        bool powerCycle;  // the model goes quiet at the update request and needs a power cycle
        int bySignal;     // 0: the host's close does it
        std::string bootId;
    };
    const Case cases[] = {
        {"ZL500", false, 0, "\x06\x30\x10"},
        {"RV7-G", true, 0, std::string("\x06\x00\x0C", 3)},
        {"ZL500", false, SIGUSR1, "\x06\x30\x10"},
        {"RV7-G", true, SIGUSR2, std::string("\x06\x00\x0C", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + (c.bySignal != 0 ? " by signal" : " by close"));
        const std::string json = TempPath("summary.json");
        std::vector<std::string> args{"--model",        c.model, "--image-length", "8192",
                                      "--summary-json", json,    "--verbose"};
        if (c.bySignal != 0) {
            args.push_back("--no-auto-reconnect");
        }
        PlcsimProcess plcsim(args);
        {
            Host host(plcsim.port());
            ASSERT_TRUE(host.ok());
            EXPECT_EQ(ReplyByte(host.Ask(kModeQuery, 19), 4), 5);
            EXPECT_EQ(ReplyByte(host.Ask(kIdQuery, 19), 4), 6);
            if (c.powerCycle) {
                ASSERT_TRUE(host.Send(kUpdateRequest));
                EXPECT_EQ(host.Read(1, 300), "");
            } else {
                EXPECT_EQ(ReplyByte(host.Ask(kUpdateRequest, 19), 4), 6);
                ASSERT_TRUE(host.Send(kUpdateAck));
            }
        }
        ASSERT_TRUE(plcsim.Logged(kClosed)) << plcsim.Stderr();
        Host host(plcsim.port());
        ASSERT_TRUE(host.ok());
        if (c.bySignal != 0) {
            // Nothing happened at the close: the controller still waits.
            ASSERT_TRUE(host.Send(kModeQuery));
            EXPECT_EQ(host.Read(1, 300), "");
            plcsim.Signal(c.bySignal);
            ASSERT_TRUE(plcsim.Logged(c.powerCycle ? "power cycle (SIGUSR2)" : "replug (SIGUSR1)"))
                << plcsim.Stderr();
        }
        EXPECT_EQ(ReplyByte(host.Ask(kModeQuery, 19), 4), 6);
        EXPECT_EQ(host.Ask("ID", 3), c.bootId);
        // The probe while it waited is the one violation of the manual runs.
        EXPECT_EQ(plcsim.Stop(), c.bySignal != 0 ? 1 : 0) << plcsim.Stderr();
        const std::string summary = ReadText(json);
        EXPECT_EQ(JsonField(summary, c.powerCycle ? "powerCycles" : "replugs"), "1");
        EXPECT_EQ(JsonField(summary, "hostOpens"), "2");
        EXPECT_EQ(JsonField(summary, "state"), "\"bootloader\"");
        unlink(json.c_str());
    }
}

TEST(PlcsimReconnect, AHostClosingALostLinkStandsForTheReplug) {
    PlcsimProcess plcsim({"--model", "ZL500-AIO", "--fault", "boot-at-power-on", "--fault",
                          "link-loss@block:1", "--verbose"});
    const std::string image = RandomBytes(11056, 3);
    {
        Host host(plcsim.port());
        EXPECT_EQ(host.Ask("ID", 3), "\x06\x30\x10");
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(host.Ask("ERASE", 1), kAck);
        }
        EXPECT_EQ(host.Ask(kEot, 1), kAck);
        EXPECT_EQ(host.Ask("UPDATE", 1), kAck);
        EXPECT_EQ(host.Ask(BlockFrame(1, image.substr(0, 256), 256), 1), kAck);
        ASSERT_TRUE(host.Send(BlockFrame(2, image.substr(256, 256), 256)));
        EXPECT_EQ(host.Read(1, 300), "");  // its ACK is lost with the link
        ASSERT_TRUE(host.Send(kAnalogModeQuery));
        EXPECT_EQ(host.Read(1, 300), "");  // nothing passes
    }
    ASSERT_TRUE(plcsim.Logged(kClosed)) << plcsim.Stderr();
    Host host(plcsim.port());
    // The half-written flash keeps the controller in its bootloader.
    EXPECT_EQ(ReplyByte(host.Ask(kAnalogModeQuery, 19), 4), 6);
    EXPECT_EQ(plcsim.Stop(), 0) << plcsim.Stderr();
}

// With --wire a 261-byte block costs its 22.7 ms at 115200 baud on top of the controller's own
// 10 ms; the fastest of a few blocks keeps scheduling noise out.
TEST(PlcsimWire, ABlockTakesItsLineTime) {
    const std::string image = RandomBytes(256 * 8, 5);
    double fastest[2] = {};
    for (const bool wire : {false, true}) {
        SCOPED_TRACE(wire ? "--wire" : "no --wire");
        std::vector<std::string> args{"--model", "30KT5-AIO", "--image-length",
                                      "2048",    "--fault",   "boot-at-power-on"};
        if (wire) {
            args.push_back("--wire");
        }
        PlcsimProcess plcsim(args);
        Host host(plcsim.port());
        ASSERT_TRUE(host.ok());
        EXPECT_EQ(host.Ask("ID", 3), std::string("\x06\x00\x0D", 3));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(host.Ask("ERASE", 1), kAck);
        }
        EXPECT_EQ(host.Ask(kEot, 1), kAck);
        EXPECT_EQ(host.Ask("UPDATE", 1), kAck);
        ASSERT_TRUE(host.SetBaud(B115200));
        double best = 1e9;
        for (uint8_t n = 1; n <= 6; ++n) {
            const std::string frame = BlockFrame(n, image.substr((n - 1) * 256u, 256), 256);
            const auto start = std::chrono::steady_clock::now();
            ASSERT_EQ(host.Ask(frame, 1), kAck);
            const std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - start;
            best = std::min(best, took.count());
        }
        fastest[wire ? 1 : 0] = best;
        EXPECT_EQ(plcsim.Stop(), 0) << plcsim.Stderr();
    }
    // Without --wire the controller answers at once; with it a block costs its 261 bytes' line
    // time (22.7 ms at 115200) and the controller's 10 ms of block writing and turn-around.
    EXPECT_LT(fastest[0], 3.0);
    EXPECT_GE(fastest[1], 31.0);
    EXPECT_LT(fastest[1], 50.0);
    EXPECT_NEAR(fastest[1] - fastest[0], 22.7 + 10.0, 4.0);
}

TEST(PlcsimExit, AfterTheUpdateTheHostsCloseEndsTheRun) {
    const std::string json = TempPath("summary.json");
    PlcsimProcess plcsim({"--exit-after-update", "--summary-json", json, "--verbose"});
    {
        Host probe(plcsim.port());  // opening and closing without a word is no update
    }
    ASSERT_TRUE(plcsim.Logged(kClosed)) << plcsim.Stderr();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // for a wrong end to show
    EXPECT_TRUE(plcsim.Running());
    {
        Host host(plcsim.port());
        EXPECT_EQ(host.Ask(kModeQuery, 19), kModeReply);
        ASSERT_TRUE(host.Send("\x15junk"));
    }
    EXPECT_EQ(plcsim.Wait(3000), 1) << plcsim.Stderr();
    const std::string summary = ReadText(json);
    EXPECT_EQ(JsonField(summary, "endReason"), "\"the host closed the port after the update\"");
    EXPECT_EQ(JsonField(summary, "transferComplete"), "false");
    EXPECT_EQ(JsonField(summary, "violationCount"), "1");
    EXPECT_NE(summary.find("5 unexpected byte(s) outside a frame: \\\"\\\\x15junk\\\""),
              std::string::npos)
        << summary;
    unlink(json.c_str());
}

TEST(PlcsimUsage, BadArgumentsExitWithTwoAndHelpShowsTheGrammar) {
    const std::string file = WriteTemp("image.bin", "12345");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;  // in stdout or stderr
    };
    const Case cases[] = {
        {{"--fault", "nak@mode-query"}, 2, "--fault nak@mode-query: nak fits only"},
        {{"--model", "ZL999"}, 2, "no model is named \"ZL999\""},
        {{"--model", "MN6"}, 2, "give --image-length or --image for MN6"},
        {{"--image-length", "5", "--image", file}, 2, "excludes"},
        {{"--image", "/no/such/image"}, 2, "/no/such/image"},
        {{"--bogus"}, 2, "--bogus"},
        {{"--help"}, 0, "link-loss@block[:SKIP]"},
        {{"--list-models"}, 0, "ZL500-AIO\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        const Finished f = RunPlcsim(c.args);
        EXPECT_EQ(f.status, c.status);
        EXPECT_NE((f.out + f.err).find(c.says), std::string::npos) << f.out << f.err;
    }
    unlink(file.c_str());
}

}  // namespace
}  // namespace fwburn::sim::plcsim::test

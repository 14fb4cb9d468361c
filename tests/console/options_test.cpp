#include "ui/console/cli/options.hpp"

#include <gtest/gtest.h>

#include "tests/support/test_name.hpp"

namespace fwburn::console {
namespace {

ParsedCommandLine Parse(const std::vector<std::string>& args) {
    return ParseCommandLine("fwburn-cpu-cli", "ZL500", args);
}

TEST(OptionsTest, NoArgumentsRunsOnTheDiscoveredPort) {
    const ParsedCommandLine p = Parse({});
    ASSERT_TRUE(p.run);
    EXPECT_TRUE(p.options.ports.empty());
    EXPECT_FALSE(p.options.all);
    EXPECT_FALSE(p.options.yes);
    EXPECT_FALSE(p.options.json);
    EXPECT_FALSE(p.options.listPorts);
    EXPECT_FALSE(p.options.version);
    EXPECT_EQ(p.options.extractImage, "");
    EXPECT_FALSE(p.options.allowStandIn);  // a stand-in is never written unless asked for
}

TEST(OptionsTest, EveryOptionLandsInItsField) {
    const ParsedCommandLine p = Parse({"--port", "/dev/ttyUSB3", "--yes", "--json"});
    ASSERT_TRUE(p.run) << p.error;
    EXPECT_EQ(p.options.ports, std::vector<std::string>{"/dev/ttyUSB3"});
    EXPECT_TRUE(p.options.yes);
    EXPECT_TRUE(p.options.json);

    EXPECT_EQ(Parse({"--port=/dev/pts/4"}).options.ports, std::vector<std::string>{"/dev/pts/4"});
    EXPECT_TRUE(Parse({"--all"}).options.all);
    EXPECT_TRUE(Parse({"-y"}).options.yes);
    EXPECT_TRUE(Parse({"--list-ports"}).options.listPorts);
    EXPECT_TRUE(Parse({"--version"}).options.version);
    EXPECT_EQ(Parse({"--extract-image", "out.bin"}).options.extractImage, "out.bin");
    EXPECT_TRUE(Parse({"--allow-stand-in"}).options.allowStandIn);
    EXPECT_EQ(Parse({"--info", "--trace", "t"}).options.trace, "t");
}

TEST(OptionsTest, EachPortOptionAddsAControllerInTheOrderGiven) {
    const ParsedCommandLine p =
        Parse({"--port", "/dev/ttyACM1", "--port=/dev/ttyACM0", "-y", "--port", "/dev/pts/7"});
    ASSERT_TRUE(p.run) << p.error;
    EXPECT_EQ(p.options.ports,
              (std::vector<std::string>{"/dev/ttyACM1", "/dev/ttyACM0", "/dev/pts/7"}));
    EXPECT_TRUE(p.options.yes);

    const ParsedCommandLine all = Parse({"--all", "--json"});
    ASSERT_TRUE(all.run) << all.error;
    EXPECT_TRUE(all.options.all);
    EXPECT_TRUE(all.options.ports.empty());
    EXPECT_TRUE(Parse({"--all", "--list-ports"}).run);
}

// Every refusal that repeats an argument shows its control and non-UTF-8 bytes escaped.
TEST(OptionsTest, ARefusalNeverEchoesAnArgumentsControlBytes) {
    const std::string clear = "\x1b[2J\xff";
    const std::vector<std::string> refused[] = {
        {"--bogus" + clear},
        {"--port", "/dev/pts/1" + clear, "--port", "/dev/pts/1" + clear},
        {"--port", "-" + clear},
        {"--port" + clear + "="},
    };
    for (const std::vector<std::string>& args : refused) {
        SCOPED_TRACE(args.front());
        const ParsedCommandLine p = Parse(args);
        EXPECT_FALSE(p.run);
        EXPECT_EQ(p.exitCode, 2);
        EXPECT_EQ(p.error.find_first_of("\x1b\xff"), std::string::npos) << p.error;
        EXPECT_NE(p.error.find("\\x1B[2J\\xFF"), std::string::npos) << p.error;
    }
}

TEST(OptionsTest, HelpPrintsTheOptionsAndTheExitStatusesAndSucceeds) {
    for (const char* help : {"--help", "-h"}) {
        const ParsedCommandLine p = Parse({help});
        EXPECT_FALSE(p.run);
        EXPECT_EQ(p.exitCode, 0);
        EXPECT_EQ(p.error, "");
        for (const char* word :
             {"--port", "--all", "--list-ports", "--yes", "--extract-image", "--version", "--json",
              "--allow-stand-in", "ZL500", "130 SIGINT", "143 SIGTERM"}) {
            EXPECT_NE(p.output.find(word), std::string::npos) << word;
        }
    }
}

struct UsageCase {
    std::vector<std::string> args;
    const char* says;  // part of the error text
};

class UsageErrorTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrorTest, IsExitTwoWithAReasonOnStderr) {
    const ParsedCommandLine p = Parse(GetParam().args);
    EXPECT_FALSE(p.run);
    EXPECT_EQ(p.exitCode, 2);
    EXPECT_EQ(p.output, "");
    EXPECT_NE(p.error.find(GetParam().says), std::string::npos) << p.error;
    EXPECT_NE(p.error.find("--help"), std::string::npos);
    EXPECT_EQ(p.error.rfind("fwburn-cpu-cli: ", 0), 0u) << p.error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsageErrorTest,
    ::testing::Values(UsageCase{{"--bogus"}, "--bogus"},
                      UsageCase{{"/dev/ttyS0"}, "/dev/ttyS0"},  // the port needs its option
                      UsageCase{{"--port"}, "--port"},
                      UsageCase{{"--port", ""}, "--port needs a path"},
                      UsageCase{{"--extract-image"}, "--extract-image"},
                      UsageCase{{"--extract-image="}, "--extract-image"},
                      UsageCase{{"--extract-image", ""}, "--extract-image needs a file"},
                      UsageCase{{"--version", "--list-ports"}, "only one of"},
                      UsageCase{{"--list-ports", "--extract-image", "x"}, "only one of"},
                      // An empty value after '=' must not take the next argument for it.
                      UsageCase{{"--trace=", "--allow-stand-in"}, "--trace needs a value"},
                      UsageCase{{"--port=", "--yes"}, "--port needs a value"},
                      UsageCase{{"--trace", ""}, "--trace needs a file"},
                      UsageCase{{"--port", "--yes"}, "--port needs a value, not '--yes'"},
                      UsageCase{{"--trace", "--allow-stand-in"}, "--trace needs a value"},
                      UsageCase{{"--extract-image", "-y"}, "a file of that name: ./-y"},
                      UsageCase{{"--yes=no"}, "--yes takes no value"},
                      // One path per --port: a second word is no second port.
                      UsageCase{{"--port", "/dev/ttyS0", "/dev/ttyS1"}, "/dev/ttyS1"},
                      UsageCase{{"--port", "/dev/ttyS0", "--port", ""}, "--port needs a path"},
                      UsageCase{{"--port", "/dev/ttyS0", "--port", "-y"}, "not '-y'"},
                      UsageCase{{"--port", "/dev/ttyS0", "--port", "/dev/ttyS0"}, "given twice"},
                      UsageCase{{"--all", "--port", "/dev/ttyS0"}, "either --port or --all"},
                      UsageCase{{"--all", "--version"}, "--all goes with"},
                      UsageCase{{"--all=no"}, "--all takes no value"},
                      UsageCase{{"--all", "--trace", "t.log"}, "records one controller"},
                      UsageCase{{"--port", "a", "--port", "b", "--trace", "t"}, "one --port"},
                      UsageCase{{"--list-ports", "--trace", "t"}, "records an update"},
                      UsageCase{{"--info", "--all", "--trace", "t"}, "records one controller"},
                      UsageCase{{"--version", "--trace", "t"}, "records an update"},
                      UsageCase{{"--allow-stand-in=no"}, "--allow-stand-in takes no value"},
                      UsageCase{{"--trace", "a", "--trace", "b"},
                                "--trace is given more than once"},
                      UsageCase{{"--", "--port", "x", "y"}, "value: -- --port x y"}),
    [](const ::testing::TestParamInfo<UsageCase>& row) {
        std::string name = std::to_string(row.index);
        for (const std::string& arg : row.param.args) {
            name += "_" + test::TestName(arg);
        }
        return name;
    });

}  // namespace
}  // namespace fwburn::console

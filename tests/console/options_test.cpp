#include "ui/console/options.hpp"

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
    EXPECT_EQ(p.options.port, "");
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
    EXPECT_EQ(p.options.port, "/dev/ttyUSB3");
    EXPECT_TRUE(p.options.yes);
    EXPECT_TRUE(p.options.json);

    EXPECT_EQ(Parse({"--port=/dev/pts/4"}).options.port, "/dev/pts/4");
    EXPECT_TRUE(Parse({"-y"}).options.yes);
    EXPECT_TRUE(Parse({"--list-ports"}).options.listPorts);
    EXPECT_TRUE(Parse({"--version"}).options.version);
    EXPECT_EQ(Parse({"--extract-image", "out.bin"}).options.extractImage, "out.bin");
    EXPECT_TRUE(Parse({"--allow-stand-in"}).options.allowStandIn);
}

TEST(OptionsTest, HelpPrintsTheOptionsAndTheExitStatusesAndSucceeds) {
    for (const char* help : {"--help", "-h"}) {
        const ParsedCommandLine p = Parse({help});
        EXPECT_FALSE(p.run);
        EXPECT_EQ(p.exitCode, 0);
        EXPECT_EQ(p.error, "");
        for (const char* word :
             {"--port", "--list-ports", "--yes", "--extract-image", "--version", "--json",
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
                      UsageCase{{"--yes=no"}, "flag override"},
                      UsageCase{{"--allow-stand-in=no"}, "flag override"}),
    [](const ::testing::TestParamInfo<UsageCase>& row) {
        std::string name = std::to_string(row.index);
        for (const std::string& arg : row.param.args) {
            name += "_" + test::TestName(arg);
        }
        return name;
    });

}  // namespace
}  // namespace fwburn::console

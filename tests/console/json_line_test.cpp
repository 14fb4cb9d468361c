#include "ui/console/show/json_line.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace fwburn::console {
namespace {

struct EscapeCase {
    std::string in;
    std::string out;
};

class JsonStringTest : public ::testing::TestWithParam<EscapeCase> {};

// A byte that is no valid UTF-8 becomes U+FFFD, one for each maximal part of a sequence: any
// path or device text is written, and never ends the program.
#define FFFD "\xef\xbf\xbd"

TEST_P(JsonStringTest, Escapes) {
    EXPECT_EQ(JsonText(GetParam().in), GetParam().out + "\n");
    // Whatever is escaped, a reader gets the text back exactly; only bytes that are no UTF-8
    // change.
    if (GetParam().out.find(FFFD) == std::string::npos) {
        EXPECT_EQ(Json::parse(GetParam().out).get<std::string>(), GetParam().in);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonStringTest,
    ::testing::Values(
        EscapeCase{"", R"("")"},
        EscapeCase{"CANNOT open USB Port!!!", R"("CANNOT open USB Port!!!")"},
        EscapeCase{"say \"hi\"", R"("say \"hi\"")"}, EscapeCase{R"(C:\x)", R"("C:\\x")"},
        EscapeCase{"a\nb\rc\td", R"("a\nb\rc\td")"},
        EscapeCase{std::string("\x01\x1f\x1b\x7f", 4), "\"\\u0001\\u001f\\u001b\x7f\""},
        EscapeCase{std::string("nul\0end", 7), R"("nul\u0000end")"},
        EscapeCase{"/dev/\xc3\xa9t\xc3\xa9", "\"/dev/\xc3\xa9t\xc3\xa9\""},  // é passes
        EscapeCase{"\xe2\x82\xac \xf0\x9f\x94\x8c", "\"\xe2\x82\xac \xf0\x9f\x94\x8c\""},  // € 🔌
        // A terminal's CSI and the bidi override, as JSON escapes: the same text to a reader.
        EscapeCase{"a\xc2\x9b"
                   "31mb\xe2\x80\xae"
                   "c\xe2\x81\xa9",
                   R"("a\u009B31mb\u202Ec\u2069")"},
        EscapeCase{"bad\xff", "\"bad" FFFD "\""},                        // not UTF-8 at all
        EscapeCase{"cut\xe2\x82", "\"cut" FFFD "\""},                    // sequence cut short
        EscapeCase{"\xc0\xaf", "\"" FFFD FFFD "\""},                     // overlong "/"
        EscapeCase{"\xed\xa0\x80", "\"" FFFD FFFD FFFD "\""},            // a surrogate
        EscapeCase{"\xf4\x90\x80\x80", "\"" FFFD FFFD FFFD FFFD "\""}),  // past U+10FFFF
    [](const ::testing::TestParamInfo<EscapeCase>& row) {
        return "escape" + std::to_string(row.index);
    });

TEST(JsonLineTest, OneObjectOnOneLineWithFieldsInOrder) {
    const std::string line = JsonText({{"event", "progress"},
                                       {"percent", 42},
                                       {"total", uint32_t{4000000000u}},
                                       {"big", int64_t{-5}},
                                       {"ok", true},
                                       {"no", false},
                                       {"none", nullptr},
                                       {"text", std::string("a\"b")}});
    EXPECT_EQ(line, R"({"event":"progress","percent":42,"total":4000000000,"big":-5,"ok":true,)"
                    R"("no":false,"none":null,"text":"a\"b"})"
                    "\n");
}

TEST(JsonLineTest, FixedNumbersHaveOneDecimalAndUnknownIsNull) {
    EXPECT_EQ(JsonText({{"v", Fixed(12.345)}}), "{\"v\":12.3}\n");
    EXPECT_EQ(JsonText({{"v", Fixed(0)}}), "{\"v\":0.0}\n");
    EXPECT_EQ(JsonText({{"v", Fixed(87000)}}), "{\"v\":87000.0}\n");
    EXPECT_EQ(JsonText({{"v", Fixed(-1)}}), "{\"v\":null}\n");
    EXPECT_EQ(JsonText({{"v", Fixed(std::numeric_limits<double>::infinity())}}), "{\"v\":null}\n");
    EXPECT_EQ(JsonText({{"v", Fixed(std::numeric_limits<double>::quiet_NaN())}}), "{\"v\":null}\n");
}

TEST(JsonLineTest, AnEmptyObjectIsStillAnObject) {
    EXPECT_EQ(JsonText(Json::object()), "{}\n");
}

}  // namespace
}  // namespace fwburn::console

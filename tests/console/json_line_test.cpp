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

TEST_P(JsonStringTest, Escapes) {
    EXPECT_EQ(JsonString(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonStringTest,
    ::testing::Values(
        EscapeCase{"", R"("")"},
        EscapeCase{"CANNOT open USB Port!!!", R"("CANNOT open USB Port!!!")"},
        EscapeCase{"say \"hi\"", R"("say \"hi\"")"}, EscapeCase{R"(C:\x)", R"("C:\\x")"},
        EscapeCase{"a\nb\rc\td", R"("a\nb\rc\td")"},
        EscapeCase{std::string("\x01\x1f\x7f", 3), R"("\u0001\u001f\u007f")"},
        EscapeCase{std::string("nul\0end", 7), R"("nul\u0000end")"},
        EscapeCase{"/dev/\xc3\xa9t\xc3\xa9", "\"/dev/\xc3\xa9t\xc3\xa9\""},  // é passes
        EscapeCase{"\xe2\x82\xac \xf0\x9f\x94\x8c", "\"\xe2\x82\xac \xf0\x9f\x94\x8c\""},  // € 🔌
        EscapeCase{"bad\xff", R"("bad\ufffd")"},                           // not UTF-8 at all
        EscapeCase{"cut\xe2\x82", R"("cut\ufffd\ufffd")"},                 // sequence cut short
        EscapeCase{"\xc0\xaf", R"("\ufffd\ufffd")"},                       // overlong "/"
        EscapeCase{"\xed\xa0\x80", R"("\ufffd\ufffd\ufffd")"},             // a surrogate
        EscapeCase{"\xf4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"}),  // past U+10FFFF
    [](const ::testing::TestParamInfo<EscapeCase>& row) {
        return "escape" + std::to_string(row.index);
    });

TEST(JsonLineTest, OneObjectOnOneLineWithFieldsInOrder) {
    const std::string line = JsonLine()
                                 .Add("event", "progress")
                                 .Add("percent", 42)
                                 .Add("total", uint32_t{4000000000u})
                                 .Add("big", int64_t{-5})
                                 .Add("ok", true)
                                 .Add("no", false)
                                 .AddNull("none")
                                 .Add("text", std::string("a\"b"))
                                 .Text();
    EXPECT_EQ(line, R"({"event":"progress","percent":42,"total":4000000000,"big":-5,"ok":true,)"
                    R"("no":false,"none":null,"text":"a\"b"})"
                    "\n");
}

TEST(JsonLineTest, FixedNumbersHaveOneDecimalAndUnknownIsNull) {
    EXPECT_EQ(JsonLine().AddFixed("v", 12.345).Text(), "{\"v\":12.3}\n");
    EXPECT_EQ(JsonLine().AddFixed("v", 0).Text(), "{\"v\":0.0}\n");
    EXPECT_EQ(JsonLine().AddFixed("v", -1).Text(), "{\"v\":null}\n");
    EXPECT_EQ(JsonLine().AddFixed("v", std::numeric_limits<double>::infinity()).Text(),
              "{\"v\":null}\n");
    EXPECT_EQ(JsonLine().AddFixed("v", std::numeric_limits<double>::quiet_NaN()).Text(),
              "{\"v\":null}\n");
    EXPECT_EQ(JsonLine().Add("s", static_cast<const char*>(nullptr)).Text(), "{\"s\":null}\n");
}

TEST(JsonLineTest, AnEmptyObjectIsStillAnObject) {
    EXPECT_EQ(JsonLine().Text(), "{}\n");
}

}  // namespace
}  // namespace fwburn::console

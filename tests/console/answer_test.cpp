// A reconnect prompt's answer as typed: Enter or a yes goes on, any other line cancels, as end of
// input does; one line answers one prompt. And the prompt's wording on a console.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "ui/console/session/console_operator.hpp"

namespace fwburn::console {
namespace {

struct LineCase {
    const char* typed;
    Answer answer;
};

TEST(AnswerForLine, OnlyAYesGoesOnAnythingElseCancels) {
    const LineCase cases[] = {
        {"", Answer::Ok},         {"y", Answer::Ok},          {"yes", Answer::Ok},
        {"ok", Answer::Ok},       {"  YES\t", Answer::Ok},    {"Ok\r", Answer::Ok},
        {"n", Answer::Cancel},    {"no", Answer::Cancel},     {"q", Answer::Cancel},
        {"quit", Answer::Cancel}, {"cancel", Answer::Cancel}, {"stop", Answer::Cancel},
        {"nope", Answer::Cancel}, {"yess", Answer::Cancel},   {"okay", Answer::Cancel},
        {"no\r", Answer::Cancel},  // a terminal in raw mode sends CR before the LF
    };
    for (const LineCase& c : cases) {
        EXPECT_EQ(AnswerForLine(c.typed), c.answer) << '"' << c.typed << '"';
    }
}

// Feeds `input` byte by byte, then end of input when `closed`; the answers given, "o" for Ok and
// "c" for Cancel.
std::string Feed(AnswerInput& in, const std::string& input, bool closed) {
    std::string answers;
    for (const char c : input) {
        if (const auto a = in.Take(1, c, 0)) {
            answers += *a == Answer::Ok ? 'o' : 'c';
        }
    }
    if (closed) {
        if (const auto a = in.Take(0, 0, 0)) {
            answers += *a == Answer::Ok ? 'o' : 'c';
        }
    }
    return answers;
}

TEST(AnswerInput, OneLineAnswersOnePrompt) {
    struct Case {
        const char* input;
        bool closed;
        const char* answers;
    } cases[] = {
        {"\n", false, "o"},
        {"no\n", false, "c"},
        {"no", false, ""},  // no Enter yet: no answer
        {"no", true, "c"},  // end of input cancels whatever was typed
        {"", true, "c"},
        {"\n\n", false, "oo"},
        {"n\n\n", false, "co"},  // the word belongs to its own line only
        {"yes\nq\n", false, "oc"},
        // Enter on a terminal in raw mode is CR; CR LF from a Windows file is one line end.
        {"no\r\r", false, "co"},
        {"\r\n\r\nn\r\n", false, "ooc"},
    };
    for (const Case& c : cases) {
        AnswerInput in;
        EXPECT_EQ(Feed(in, c.input, c.closed), c.answers) << '"' << c.input << '"';
    }
}

// A line as long as anyone can type keeps a few bytes and answers at its Enter; one byte more and
// it is a stream that nobody types (/dev/zero), which cancels at once instead of being read on.
// Its rest answers no other prompt, blank or not, unless it runs on for another line's length.
TEST(AnswerInput, ALineNoOneTypedCancels) {
    const size_t longest = AnswerInput::kLongestLine;
    const std::string blanks(1500, ' ');  // a word among blanks, the line `longest` long
    const struct {
        std::string input;
        const char* answers;
    } cases[] = {
        {std::string(longest, '\0') + "\n", "c"},
        {blanks + "Y" + std::string(1000, '\t') + "es" + std::string(longest - 2503, ' ') + "\n",
         "o"},
        {std::string(longest, ' ') + "\n", "o"},
        {std::string(longest + 1, '\0'), "c"},
        {std::string(longest + 1, ' ') + "\n", "c"},
        {std::string(longest + 1, ' ') + "yes\n\n", "co"},
        {std::string(longest * 2 + 1, ' ') + "\n", "c"},
        {std::string(longest * 2 + 2, '\0'), "cc"},
    };
    for (const auto& c : cases) {
        AnswerInput in;
        EXPECT_EQ(Feed(in, c.input.substr(0, longest), false), "");
        EXPECT_LE(in.held(), 4u);
        EXPECT_EQ(Feed(in, c.input.substr(longest), false), c.answers);
    }
}

TEST(AnswerInput, AnInterruptedReadIsTriedAgain) {
    AnswerInput in;
    EXPECT_FALSE(in.Take(1, 'n', 0));
    EXPECT_FALSE(in.Take(-1, 0, EINTR));
    EXPECT_FALSE(in.Take(-1, 0, EAGAIN));
    EXPECT_EQ(in.Take(1, '\n', 0), Answer::Cancel);
    // A read that fails for good is an end of input.
    EXPECT_EQ(in.Take(-1, 0, EIO), Answer::Cancel);
}

TEST(ConsoleWording, EnterInPlaceOfTheWindowsOkButton) {
    EXPECT_EQ(ConsoleWording("Please REPLUG the USB Cable, and then press OK to continue"),
              "Please REPLUG the USB Cable, and then press Enter to continue");
    EXPECT_EQ(ConsoleWording("Please POWER OFF=>ON the PLC, and then press OK to continue"),
              "Please POWER OFF=>ON the PLC, and then press Enter to continue");
    EXPECT_EQ(ConsoleWording("nothing to change"), "nothing to change");
}

}  // namespace
}  // namespace fwburn::console

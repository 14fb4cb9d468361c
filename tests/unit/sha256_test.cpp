#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/sha256.hpp"

namespace fwburn {
namespace {

std::string Hex(const std::string& message) {
    char out[65];
    Sha256Hex(Sha256(reinterpret_cast<const uint8_t*>(message.data()), message.size()), out);
    return out;
}

TEST(Sha256, KnownVectorsAcrossPaddingBoundaries) {
    struct Case {
        std::string message;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56 bytes: two tail blocks
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Hex(c.message), c.digest) << c.message.size();
    }
}

TEST(Sha256, MatchesTakesEitherCaseAndRefusesAnythingElse) {
    const std::string abc = "abc";
    const auto* p = reinterpret_cast<const uint8_t*>(abc.data());
    EXPECT_TRUE(
        Sha256Matches(p, 3, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_TRUE(
        Sha256Matches(p, 3, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"));
    EXPECT_FALSE(
        Sha256Matches(p, 2, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_FALSE(
        Sha256Matches(p, 3, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ae"));
    EXPECT_FALSE(Sha256Matches(p, 3, "ba7816bf"));
    EXPECT_FALSE(Sha256Matches(p, 3, nullptr));
    EXPECT_FALSE(
        Sha256Matches(p, 3, "zz7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}

}  // namespace
}  // namespace fwburn

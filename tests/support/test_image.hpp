// Images for worker tests, with the digest a build would have recorded for them.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "burn/burn.hpp"
#include "catalogue/sha256.hpp"

namespace fwburn::test {

struct TestImage {
    std::vector<uint8_t> bytes;
    std::string sha256;

    TestImage(size_t length, uint32_t seed) : bytes(length) {
        std::mt19937 rng(seed);
        for (auto& b : bytes) {
            b = static_cast<uint8_t>(rng());
        }
        char hex[65];
        Sha256Hex(Sha256(bytes.data(), bytes.size()), hex);
        sha256 = hex;
    }

    BurnJob Job(Operator& op) const {
        BurnJob job;
        job.op = &op;
        job.image = EmbeddedImage{bytes.empty() ? nullptr : bytes.data(),
                                  static_cast<uint32_t>(bytes.size())};
        job.imageSha256 = sha256.c_str();
        return job;
    }
};

}  // namespace fwburn::test

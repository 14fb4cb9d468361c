// Images for worker tests, with the digest a build would have recorded for them.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "burn/update.hpp"
#include "catalogue/sha256.hpp"
#include "tests/support/recording_operator.hpp"

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

    ImageSpan Span() const {
        return ImageSpan{bytes.empty() ? nullptr : bytes.data(),
                         static_cast<uint32_t>(bytes.size())};
    }

    // Sets `update` up to send this image for the model `row`, through `op`.
    void Job(Update& update, Operator& op, int row, const char* port = "COM3") const {
        update.op = &op;
        update.row = row;
        update.SetPortName(port);
        update.image = Span();
        update.imageSha256 = sha256.c_str();
    }
    // The same, and the recording operator notes this update's figures at every call.
    void Job(Update& update, RecordingOperator& op, int row, const char* port = "COM3") const {
        Job(update, static_cast<Operator&>(op), row, port);
        op.figures = &update.figures;
    }
};

}  // namespace fwburn::test

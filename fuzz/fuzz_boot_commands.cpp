// Bootloader commands and the block transfer against replies made of the fuzzer's bytes: results
// only 0 or 16, counters within budget, and a transfer reported complete only when every block
// went out in order, whole, and was answered ACK.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "fuzz/fuzz_device.hpp"
#include "fuzz/require.hpp"
#include "protocol/boot_commands.hpp"
#include "protocol/transfer.hpp"

using namespace fwburn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    const int row = data[0] % kModelCount;
    const int command = data[1] % 5;
    const BootIdRule rule = data[1] & 0x80 ? BootIdRule::Aio : BootIdRule::Cpu;
    // A small image whose length the fuzzer picks: every geometry, fill and the 4 KiB tail.
    const uint32_t length = 4097 + (uint32_t{data[2]} << 4 | data[3] >> 4);
    std::vector<uint8_t> image(length);
    for (uint32_t i = 0; i < length; ++i) {
        image[i] = static_cast<uint8_t>(i * 7 + i / 251);
    }
    fuzz::FuzzDevice dev(data + 4, size - 4);
    Figures figures;
    Progress progress(figures);
    Channel ch{dev, progress};
    const Figures& f = figures;

    uint8_t r = 0;
    switch (command) {
        case 0:
            r = CheckID_B(ch, rule, row);
            break;
        case 1: {
            uint8_t version = 0xEE;
            r = read_fu_version_B(ch, version);
            if (r != 0)
                fuzz::Require(version == 0xEE);
            break;
        }
        case 2:
            r = SendErase_B(ch, row, length);
            break;
        case 3: {
            const LineSettings before = dev.line;
            r = SendUpdate(ch);
            if (r != 0)
                fuzz::Require(dev.line == before);
            if (r == 0)
                fuzz::Require(dev.line.baudRate == 115200 && dev.line.byteSize == 8);
            break;
        }
        case 4: {
            r = SendFW(ch, row, ImageSpan{image.data(), length});
            const TransferGeometry g = TransferGeometryFor(row, length);
            // Frames in the order written; a resend repeats its predecessor exactly.
            std::vector<std::vector<uint8_t>> frames;
            for (const auto& w : dev.writes) {
                if (w.size() == g.frameLength && (frames.empty() || w != frames.back())) {
                    frames.push_back(w);
                }
            }
            const bool eotSent = !dev.writes.empty() && dev.writes.back().size() == 1;
            if (r == 0) {
                fuzz::Require(eotSent && frames.size() == g.blockCount && f.progress == 100);
                fuzz::Require(f.done == g.blockCount && f.total == g.blockCount);
                for (size_t i = 0; i < frames.size(); ++i) {
                    fuzz::Require(frames[i][1] == static_cast<uint8_t>(i + 1));
                    for (uint32_t k = 0; k < g.blockSize; ++k) {
                        const size_t at = i * g.blockSize + k;
                        fuzz::Require(frames[i][3 + k] == (at < g.bytesSent ? image[at] : 0x1A));
                    }
                }
            } else if (frames.size() < g.blockCount) {
                fuzz::Require(!eotSent);  // no EOT after a block that was not taken
            }
            fuzz::Require(f.progress >= 0 && f.progress <= 100 && f.flashStatus == 2);
            fuzz::Require(f.done <= f.total && f.total == g.blockCount);
            break;
        }
    }
    fuzz::Require(r == 0 || r == 16);
    fuzz::Require(f.errCounter >= 0 && f.errCounter <= 6);
    return 0;
}

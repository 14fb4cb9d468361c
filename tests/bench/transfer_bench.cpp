// Host-side cost of the transfer: CRC of a block, and one block's read + CRC + frame + exchange
// against a device that acknowledges at once (the wire needs about 23 ms per 261-byte block).
#include <benchmark/benchmark.h>

#include <vector>

#include "catalogue/catalogue.hpp"
#include "protocol/transfer.hpp"
#include "tests/support/ack_device.hpp"

namespace fwburn {
namespace {

void BM_Crc256(benchmark::State& state) {
    std::vector<uint8_t> block(256);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(CRC(block.data(), 256));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 256);
}
BENCHMARK(BM_Crc256);

// Whole transfers of the main-CPU image; the counter gives the cost per 261-byte block.
void BM_MainCpuTransferPerBlock(benchmark::State& state) {
    std::vector<uint8_t> image(2076672);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
    }
    const int row = FindModelRow("ZL500");
    test::AckDevice device;
    Figures figures;
    Progress progress(figures);
    Channel channel{device, progress};
    const ImageSpan span{image.data(), static_cast<uint32_t>(image.size())};
    for (auto _ : state) {
        benchmark::DoNotOptimize(SendFW(channel, row, span));
    }
    state.counters["ns_per_block"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 8096,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MainCpuTransferPerBlock)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace fwburn

BENCHMARK_MAIN();

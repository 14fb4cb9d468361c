// The transfer allocates nothing: every global operator new in this binary is counted, and the
// count must not move between the first block and the EOT.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "protocol/transfer.hpp"
#include "tests/support/ack_device.hpp"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size != 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace fwburn {
namespace {

// Acknowledges everything at once and notes the allocation count at the first block and the EOT.
class CountingAckDevice : public test::AckDevice {
  public:
    long atFirstBlock = -1;
    long atEot = -1;
    long blocks = 0;

    uint32_t Write(const uint8_t* data, uint32_t length) override {
        if (length > 1 && atFirstBlock < 0) {
            atFirstBlock = allocations.load();
        }
        if (length > 1) {
            ++blocks;
        }
        if (length == 1 && data[0] == 0x04) {
            atEot = allocations.load();
        }
        return test::AckDevice::Write(data, length);
    }
};

TEST(NoAllocation, WholeMainCpuTransfer) {
    std::vector<uint8_t> image(2076672, 0x5A);
    CountingAckDevice device;
    Figures figures;
    Progress progress(figures);
    Channel channel{device, progress};
    ASSERT_EQ(SendFW(channel, FindModelRow("ZL500"),
                     ImageSpan{image.data(), static_cast<uint32_t>(image.size())}),
              0);
    EXPECT_EQ(device.blocks, 8096);
    ASSERT_GE(device.atFirstBlock, 0);
    EXPECT_EQ(device.atEot - device.atFirstBlock, 0);
}

TEST(NoAllocation, TheCounterCounts) {
    const long before = allocations.load();
    auto* p = new std::vector<int>(10);
    delete p;
    EXPECT_GE(allocations.load() - before, 2);
}

}  // namespace
}  // namespace fwburn

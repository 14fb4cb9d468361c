// Every application-mode command against replies made of the fuzzer's bytes: results only from
// each command's own set, counters within the retry budget, and no success on a reply the
// command must refuse.
#include <cstdint>
#include <cstdlib>
#include <set>

#include "catalogue/catalogue.hpp"
#include "fuzz/fuzz_device.hpp"
#include "fuzz/reference_frame.hpp"
#include "fuzz/require.hpp"
#include "protocol/app_commands.hpp"
#include "protocol/handshake.hpp"
#include "protocol/line_setup.hpp"
#include "protocol/retry.hpp"

using namespace fwburn;

namespace {

// Whether the bytes read after the `fromEnd`-th last write hold, somewhere, a complete reply of
// `length` characters that passes the check and `holds`: a command may succeed only on a reply
// the controller really sent after its request. Checked without the code under test.
template <typename Holds>
bool SomeReplyAfterWrite(const fuzz::FuzzDevice& dev, size_t fromEnd, size_t length, Holds holds) {
    if (dev.readAfter.size() < fromEnd) {
        return false;
    }
    const std::vector<uint8_t>& read = dev.readAfter[dev.readAfter.size() - fromEnd];
    for (size_t at = 0; at + length <= read.size(); ++at) {
        const std::vector<uint8_t> candidate(read.begin() + static_cast<long>(at),
                                             read.begin() + static_cast<long>(at + length));
        const auto decoded = fuzz::GoodReply(candidate, length);
        if (decoded && holds(*decoded)) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const int row = data[0] % kModelCount;
    const int command = data[1] % 6;
    fuzz::FuzzDevice dev(data + 2, size - 2);
    Figures figures;
    Progress progress(figures);
    Channel ch{dev, progress};
    const Figures& f = figures;

    switch (command) {
        case 0: {
            const uint8_t r = ConfirmComm(ch, row);
            fuzz::Require(std::set<int>{5, 6, 17, 18, 21, 22, 23, 24}.count(r) == 1);
            if (r == 5 || r == 6) {
                fuzz::Require(
                    SomeReplyAfterWrite(dev, 1, 19, [r](const auto& d) { return d[4] == r; }));
                fuzz::Require(f.errCounter == 0);
            }
            break;
        }
        case 1: {
            const uint8_t r = CheckID_A(ch, row);
            fuzz::Require(std::set<int>{0, 18, 19, 21, 23, 24}.count(r) == 1);
            if (r == 0) {
                fuzz::Require(SomeReplyAfterWrite(dev, 1, 19, [row](const auto& d) {
                    return d[4] == 0x06 &&
                           AppIdAccepted(row, static_cast<uint16_t>(d[5] << 8 | d[6]));
                }));
            }
            break;
        }
        case 2:
        case 3: {
            const uint16_t v = command == 2 ? READ_D1386(ch) : READ_D1148(ch);
            if (v != 0) {
                fuzz::Require(SomeReplyAfterWrite(
                    dev, 1, 15, [v](const auto& d) { return v == (d[3] << 8 | d[4]); }));
            }
            break;
        }
        case 4: {
            const uint8_t v = read_fu_version_A(ch);
            if (v != 0) {
                fuzz::Require(
                    SomeReplyAfterWrite(dev, 1, 19, [v](const auto& d) { return d[4] == v; }));
            }
            break;
        }
        case 5: {
            const uint8_t r = SendErase_A(ch, row);
            fuzz::Require(std::set<int>{0, 19, 20, 21, 23, 24}.count(r) == 1);
            if (r == 0 && !AcceptsSilentUpdateRequest(row)) {
                // Accepted only after an ACK reply, and the acknowledgement went out last.
                fuzz::Require(dev.writes.back().size() == 15);
                fuzz::Require(
                    SomeReplyAfterWrite(dev, 2, 19, [](const auto& d) { return d[4] == 0x06; }));
            }
            break;
        }
    }
    // Six failures of either kind end a command: at most 11 attempts; the update request's
    // attempts may each add an acknowledgement that did not go out (a write failure). A reply may
    // take two reads (the bytes ahead of its ":" dropped), and one taken after failed attempts is
    // followed by the reads that drop late replies: one for those owed, then one per quiet wait.
    fuzz::Require(f.errCounter >= 0 && f.errCounter <= 6);
    fuzz::Require(f.totalErrCounter >= 0 && f.totalErrCounter <= 11);
    fuzz::Require(dev.writeCount <= (command == 5 ? 17u : 11u));
    fuzz::Require(dev.readCount <= 2 * 11 + 1 + kCommandTimeouts.readTotalConstant / kQuietLineMs);
    return 0;
}

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

using namespace fwburn;

namespace {

// The last reply as it must be for the command to succeed, checked without the code under test.
bool LastReplyValid(const fuzz::FuzzDevice& dev, size_t length) {
    return fuzz::GoodReply(dev.lastRead, length).has_value();
}

uint8_t Decoded(const fuzz::FuzzDevice& dev, int byte) {
    return (*fuzz::GoodReply(dev.lastRead, dev.lastRead.size()))[static_cast<size_t>(byte)];
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
                fuzz::Require(LastReplyValid(dev, 19) && Decoded(dev, 4) == r);
                fuzz::Require(f.errCounter == 0);
            }
            break;
        }
        case 1: {
            const uint8_t r = CheckID_A(ch, row);
            fuzz::Require(std::set<int>{0, 18, 19, 21, 23, 24}.count(r) == 1);
            if (r == 0) {
                fuzz::Require(LastReplyValid(dev, 19) && Decoded(dev, 4) == 0x06);
                const auto id = static_cast<uint16_t>(Decoded(dev, 5) << 8 | Decoded(dev, 6));
                fuzz::Require(AppIdAccepted(row, id));
            }
            break;
        }
        case 2:
        case 3: {
            const uint16_t v = command == 2 ? READ_D1386(ch) : READ_D1148(ch);
            if (v != 0) {
                fuzz::Require(LastReplyValid(dev, 15));
                fuzz::Require(v == (Decoded(dev, 3) << 8 | Decoded(dev, 4)));
            }
            break;
        }
        case 4: {
            const uint8_t v = read_fu_version_A(ch);
            if (v != 0) {
                fuzz::Require(LastReplyValid(dev, 19) && Decoded(dev, 4) == v);
            }
            break;
        }
        case 5: {
            const uint8_t r = SendErase_A(ch, row);
            fuzz::Require(std::set<int>{0, 19, 20, 21, 23, 24}.count(r) == 1);
            if (r == 0 && !AcceptsSilentUpdateRequest(row)) {
                // Accepted only after an ACK reply, and the acknowledgement went out last.
                fuzz::Require(LastReplyValid(dev, 19) && Decoded(dev, 4) == 0x06);
                fuzz::Require(dev.writes.back().size() == 15);
            }
            break;
        }
    }
    // Six failures of either kind end a command: at most 11 attempts; the update request's
    // attempts may each add an acknowledgement that did not go out (a write failure).
    fuzz::Require(f.errCounter >= 0 && f.errCounter <= 6);
    fuzz::Require(f.totalErrCounter >= 0 && f.totalErrCounter <= 11);
    fuzz::Require(dev.writeCount <= (command == 5 ? 17u : 11u));
    fuzz::Require(dev.readCount <= 11);
    return 0;
}

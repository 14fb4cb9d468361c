// A look at the controller on a port, changing nothing: the wake-up, the mode query and, by the
// mode, what the application or the bootloader tells of the model. Never the update request, an
// erase or a block.
#pragma once

#include <cstdint>

#include "burn/diagnosis.hpp"
#include "catalogue/catalogue.hpp"
#include "protocol/channel.hpp"

namespace fwburn {

struct ProbeReport {
    static constexpr int kNamesSize = 64;
    static constexpr int kWhySize = 192;

    uint8_t mode = 0;           // the mode query's result: 5, 6 or its failure code
    uint8_t targetByte = 0;     // the address the mode query that counted went to
    bool otherAddress = false;  // only the other address (main unit or analog module) answered
    bool idRead = false;        // application mode: the model ID
    uint16_t id = 0;
    VariantRegister variantRegister = VariantRegister::None;  // read when the model has one
    bool variantRead = false;
    uint16_t variantValue = 0;
    bool versionRead = false;  // the bootloader version, where the model has one
    uint8_t version = 0;       // major in the high nibble
    bool bootIdRead = false;   // boot mode: the ID the bootloader gives
    uint16_t bootId = 0;
    char models[kNamesSize] = {};  // the catalogue's names for what answered; empty if unknown
    bool fits = false;             // this program's image may be written into it
    char why[kWhySize] = {};       // why not, when it does not fit
    Diagnosis silence;             // when the mode query got no valid reply: how silent it was

    // The mode query got a valid reply, an error reply (run mode, flow errors) included.
    bool answered() const;
};

// Probes through `channel` for a program whose image, `imageLength` bytes, is for `row`'s model
// and whose bootloader ID rule is `rule`.
ProbeReport Probe(Channel& channel, int row, BootIdRule rule, uint32_t imageLength);

}  // namespace fwburn

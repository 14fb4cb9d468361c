#include "burn/probe.hpp"

#include <cstdio>
#include <cstring>

#include "burn/messages.hpp"
#include "link/counting_device.hpp"
#include "protocol/app_commands.hpp"
#include "protocol/boot_commands.hpp"
#include "protocol/handshake.hpp"
#include "protocol/result_codes.hpp"

namespace fwburn {

namespace {

// Appends `name` to a list of names joined by " or ".
void AddName(char (&names)[ProbeReport::kNamesSize], const char* name) {
    const size_t used = std::strlen(names);
    std::snprintf(names + used, sizeof names - used, "%s%s", used == 0 ? "" : " or ", name);
}

// A row of the same link whose requests go to the other address: the analog module's for a main
// unit and the other way round. -1 when the catalogue has none.
int OtherAddressRow(int row) {
    for (int r = 0; r < kModelCount; ++r) {
        if (kModels[r].link == ModelAt(row).link &&
            kModels[r].targetByte != ModelAt(row).targetByte) {
            return r;
        }
    }
    return -1;
}

bool IdMatches(int r, uint16_t id, uint8_t target) {
    const Model& m = kModels[r];
    return m.targetByte == target && (m.id == id || (m.altId != 0 && m.altId == id));
}

const char* OrUnknown(const char* names) {
    return names[0] != '\0' ? names : "model unknown to this program";
}

void Silence(ProbeReport& report, const CountingDevice& counting, uint32_t before) {
    Diagnosis& d = report.silence;
    const uint32_t now = counting.received();
    d.finding = now == 0 ? Finding::NoBytes
                         : (now == before ? Finding::OnlyEarlier : Finding::NoValidReply);
    d.bytesReceived = now;
    d.sampleLength = static_cast<uint8_t>(counting.sampleLength());
    std::memcpy(d.sample, counting.sample(), counting.sampleLength());
}

void ProbeApplication(Channel& ch, ProbeReport& report, int queryRow, int row) {
    uint16_t id = 0;
    if (ReadModelId_A(ch, queryRow, id) != 0) {
        std::snprintf(report.why, sizeof report.why, "the PLC did not tell its model ID");
        return;
    }
    report.idRead = true;
    report.id = id;
    // The variant register and the version of what answered, as its catalogue rows have them.
    bool readsVersion = false;
    for (int r = 0; r < kModelCount; ++r) {
        if (IdMatches(r, id, report.targetByte)) {
            if (report.variantRegister == VariantRegister::None) {
                report.variantRegister = VariantRegisterFor(r);
            }
            readsVersion = readsVersion || ReadsBootloaderVersion(r);
        }
    }
    if (report.variantRegister != VariantRegister::None) {
        report.variantValue = report.variantRegister == VariantRegister::D1386
                                  ? READ_D1386(ch, report.variantRead)
                                  : READ_D1148(ch, report.variantRead);
    }
    for (int r = 0; r < kModelCount; ++r) {
        if (IdMatches(r, id, report.targetByte) &&
            (!report.variantRead || VariantMismatch(r, report.variantValue) == nullptr)) {
            AddName(report.models, kModels[r].name);
        }
    }
    if (readsVersion) {
        report.version = read_fu_version_A(ch, report.versionRead);
    }

    if (report.otherAddress || !AppIdAccepted(row, id)) {
        std::snprintf(report.why, sizeof report.why,
                      "the PLC is a %s (ID 0x%04X, address 0x%02X); this program's image is for "
                      "%s (ID 0x%04X, address 0x%02X)",
                      OrUnknown(report.models), id, report.targetByte, ModelName(row), ModelId(row),
                      TargetByte(row));
    } else if (VariantRegisterFor(row) != VariantRegister::None && !report.variantRead) {
        std::snprintf(report.why, sizeof report.why, "%s", kVariantReadFailedMessage);
    } else if (const char* mismatch = VariantMismatch(row, report.variantValue)) {
        std::snprintf(report.why, sizeof report.why, "%s", mismatch);
    } else if (ReadsBootloaderVersion(row) && !report.versionRead) {
        std::snprintf(report.why, sizeof report.why, "%s", kVersionReadFailedMessage);
    } else if (const char* refusal =
                   ReadsBootloaderVersion(row) ? VersionRefusal(row, report.version) : nullptr) {
        std::snprintf(report.why, sizeof report.why, "%s", refusal);
    }
}

void ProbeBootloader(Channel& ch, ProbeReport& report, int row, BootIdRule rule) {
    uint16_t id = 0;
    bool received = false;
    // Asked as the update asks, again while the ID does not pass: a reply carries no checksum,
    // and a stray byte before it makes an ID that no bootloader has. Then the last one that came.
    if (CheckID_B(ch, rule, row, id, received) != 0 && !received) {
        std::snprintf(report.why, sizeof report.why, "the bootloader did not tell its ID");
        return;
    }
    report.bootIdRead = true;
    report.bootId = id;
    bool readsVersion = false;
    for (int r = 0; r < kModelCount; ++r) {
        if (kModels[r].targetByte == report.targetByte && BootIdAccepted(rule, r, id)) {
            AddName(report.models, kModels[r].name);
            readsVersion = readsVersion || ReadsBootloaderVersion(r);
        }
    }
    if (readsVersion && read_fu_version_B(ch, report.version) == 0) {
        report.versionRead = true;
    }
    if (report.otherAddress || !BootIdAccepted(rule, row, id)) {
        std::snprintf(report.why, sizeof report.why,
                      "the bootloader is that of a %s (ID 0x%04X, address 0x%02X); this program's "
                      "image is for %s (address 0x%02X)",
                      OrUnknown(report.models), id, report.targetByte, ModelName(row),
                      TargetByte(row));
    } else if (ReadsBootloaderVersion(row) && !report.versionRead) {
        std::snprintf(report.why, sizeof report.why, "%s", kVersionReadFailedMessage);
    } else if (const char* refusal =
                   ReadsBootloaderVersion(row) ? VersionRefusal(row, report.version) : nullptr) {
        std::snprintf(report.why, sizeof report.why, "%s", refusal);
    }
}

}  // namespace

bool ProbeReport::answered() const {
    return mode == kApplicationMode || mode == kBootMode ||
           (mode != 0 && mode != kNoAcceptableReply);
}

ProbeReport Probe(Channel& channel, int row, BootIdRule rule, uint32_t imageLength) {
    CountingDevice counting(channel.device);
    Channel ch{counting, channel.progress};
    ProbeReport report;
    report.targetByte = TargetByte(row);
    int queryRow = row;

    DummyComm(ch, row);
    const uint32_t before = counting.received();
    report.mode = ConfirmComm(ch, row);
    // Something answers, but not at this model's address: ask the other one.
    const int other = OtherAddressRow(row);
    if (report.mode == kNoAcceptableReply && counting.received() > 0 && other >= 0) {
        const uint8_t mode = ConfirmComm(ch, other);
        // A refusal there (run mode, a flow error) is a valid answer too, not a silence.
        if (mode != kNoAcceptableReply) {
            report.mode = mode;
            report.otherAddress = true;
            report.targetByte = TargetByte(other);
            queryRow = other;
        }
    }
    if (report.mode == kApplicationMode) {
        ProbeApplication(ch, report, queryRow, row);
    } else if (report.mode == kBootMode) {
        ProbeBootloader(ch, report, row, rule);
    } else {
        if (report.mode == kNoAcceptableReply) {
            Silence(report, counting, before);
        }
        std::snprintf(report.why, sizeof report.why, "%s", ModeQueryFailureMessage(report.mode));
        if (report.otherAddress) {
            const size_t used = std::strlen(report.why);
            std::snprintf(report.why + used, sizeof report.why - used,
                          " (at address 0x%02X; this program's image is for %s, address 0x%02X)",
                          report.targetByte, ModelName(row), TargetByte(row));
        }
    }
    if (report.why[0] == '\0') {
        if (const char* refusal = ImageRefusal(row, imageLength)) {
            std::snprintf(report.why, sizeof report.why, "%s", refusal);
        }
    }
    report.fits = report.why[0] == '\0';
    return report;
}

}  // namespace fwburn

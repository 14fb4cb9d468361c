#include "ui/console/show/diagnosis.hpp"

#include "burn/diagnosis.hpp"
#include "catalogue/profile.hpp"
#include "ui/console/show/json_line.hpp"
#include "ui/console/show/screen.hpp"
#include "ui/console/show/wording.hpp"

namespace fwburn::console {

namespace {

constexpr char kHungUp[] =
    "the port went away under the update (the line hung up: the cable pulled, or the PLC's power "
    "lost): check the cable and the PLC's power";

// The models whose bootloader, under `rule`, answers `id` at `row`'s address.
std::string BootModels(uint16_t id, BootIdRule rule, int row) {
    std::string names;
    for (int r = 0; r < kModelCount; ++r) {
        if (kModels[r].targetByte == TargetByte(row) && BootIdAccepted(rule, r, id)) {
            names += (names.empty() ? "" : " or ") + std::string(kModels[r].name);
        }
    }
    return names;
}

void WrongModel(Explanation& e, const Diagnosis& d, int row, BootIdRule rule) {
    e.finding = "wrong-model";
    e.hasId = true;
    e.id = d.id;
    e.bootloader = d.bootloader;
    if (d.bootloader) {
        e.models = BootModels(d.id, rule, row);
    } else {
        char names[64];
        ModelNamesForId(d.id, TargetByte(row), names, sizeof names);
        e.models = names;
    }
    const std::string what = e.models.empty() ? "a model this program does not know" : e.models;
    e.text = std::string(d.bootloader ? "the PLC's bootloader answered ID "
                                      : "the PLC answered "
                                        "model ID ") +
             Hex(d.id, 4) + " (" + what + "); this program updates " + ModelName(row) + " (ID " +
             Hex(ModelId(row), 4) + ") only: use the updater of the PLC's model";
}

// What a user who may not open the port needs. The udev rule gives the port to the local
// session's user alone: an SSH login, which the rule leaves out, needs the group too.
std::string AccessHint(int row) {
    return IsUsbLinked(row)
               ? "install the package's udev rule (/usr/lib/udev/rules.d/70-fwburn.rules) "
                 "and replug the PLC (or run: sudo udevadm trigger); it serves the user at the "
                 "machine itself: from an SSH login, or for a serial adapter, join the group "
                 "dialout (sudo adduser $USER dialout, then log in again)"
               : "serial ports belong to the group dialout: sudo adduser $USER "
                 "dialout, then log in again";
}

// The controller accepted the update request and went to restart; its port then failed to open.
// The bytes counted are those it answered before.
void NotReopened(Explanation& e, bool denied, const std::string& openFailure, int row) {
    const std::string why = openFailure.empty() ? "" : " (" + openFailure + ")";
    if (denied) {
        e.finding = "permission-denied";
        // The controller waits in its bootloader with its firmware whole: say so, or the
        // operator may take it for erased and give up on it.
        e.text = "the PLC accepted the update request, but its port may not be opened again" + why +
                 ": " + AccessHint(row) + "; then run the update again (nothing was erased)";
        return;
    }
    // Not only a controller that did not come back: another program may have taken the port
    // first (a terminal program, a modem prober at the new node), as the reason then says.
    e.finding = "not-reopened";
    e.text = "the PLC accepted the update request, but its port could not be opened again" + why +
             ": check that the PLC came back (the cable, its power) and that no other program "
             "holds its port, then run the update again (nothing was erased)";
}

void Silence(Explanation& e, const Diagnosis& d, int row, bool denied,
             const std::string& openFailure, bool hungUp) {
    e.bytesReceived = d.bytesReceived;
    e.lastBytes = Printable(d.sample, d.sampleLength);
    if (hungUp && d.finding != Finding::NotReopened) {
        // Whatever came before: nothing could answer on a line that is gone.
        e.finding = "hung-up";
        e.text = std::string(kHungUp) + ", then run the update again";
        return;
    }
    switch (d.finding) {
        case Finding::NotReopened:
            NotReopened(e, denied, openFailure, row);
            return;
        case Finding::SilentSinceReopen:
            e.finding = "silent-since-reopen";
            e.text = "the PLC answered before its port was reopened (last: \"" + e.lastBytes +
                     "\"), not one byte since: check that it came back (the cable, its power) "
                     "and that the port reopened is the PLC's";
            return;
        case Finding::NoBytes:
            e.finding = "no-bytes";
            e.text =
                "not one byte came back on this port: check the cable, the PLC's power and that "
                "this is the PLC's port";
            return;
        case Finding::OnlyEarlier: {
            e.finding = "only-earlier";
            e.text = "the PLC answered earlier requests (last: \"" + e.lastBytes +
                     "\") but never this one, sent for " + ModelName(row) + " at address " +
                     Hex(TargetByte(row), 2);
            // Once it has answered this model's ID, the line or the PLC stopped mid-way.
            e.text += d.modelConfirmed
                          ? std::string(", after it had answered as a ") + ModelName(row) +
                                ": check the cable, the PLC's power and that no other program "
                                "reads its port, then run the update again"
                          : ": a controller of another model answers in another way; --info "
                            "tells what it is";
            return;
        }
        case Finding::NoValidReply:
            e.finding = "no-valid-reply";
            // The count is the whole update's: earlier requests may have had good answers.
            e.text = "what came back to this request was no valid reply (last: \"" + e.lastBytes +
                     "\"; " + std::to_string(d.bytesReceived) +
                     " bytes in all): check the line settings, or another device is on this port";
            return;
        default:
            return;
    }
}

}  // namespace

Explanation Explain(const UpdateOutcome& outcome, int row, BootIdRule rule, bool denied,
                    const std::string& openFailure, bool hungUp) {
    Explanation e;
    switch (outcome.kind) {
        case OutcomeKind::PortNotOpened:
            if (denied) {
                e.finding = "permission-denied";
                e.text = std::string(IsUsbLinked(row) ? "no permission to open the PLC's port: "
                                                      : "no permission to open the port: ") +
                         AccessHint(row);
            }
            return e;
        case OutcomeKind::FailedAfterErase:
            e.finding = "erased";
            // A serial controller's bootloader may still listen at the transfer's 115200 baud,
            // deaf to the 9600-baud mode query; from power-on it answers that query again.
            e.text = IsUsbLinked(row)
                         ? "the erase had begun: the PLC's firmware is gone; run the update again "
                           "to recover the PLC (it waits in its bootloader)"
                         : "the erase had begun: the PLC's firmware is gone; power-cycle the PLC, "
                           "then run the update again to recover it (it starts in its bootloader)";
            // A converter that hears itself, or repeats what it hears, fails every attempt alike.
            if (outcome.surplusBytes > 0) {
                e.text += "; " + std::to_string(outcome.surplusBytes) +
                          " bytes came beyond the replies: a line that echoes or repeats them (an "
                          "RS-485 converter, a loopback) fails every attempt, so check it first";
            }
            // The cause first: run again with the cable still out, it fails the same way.
            if (hungUp) {
                e.finding = "hung-up";
                e.text = std::string(kHungUp) + "; " + e.text;
            }
            return e;
        case OutcomeKind::ControllerRefused:
        case OutcomeKind::CommunicationFailed:
            break;
        default:
            return e;
    }
    const Diagnosis& d = outcome.diagnosis;
    if (d.finding == Finding::WrongModel) {
        WrongModel(e, d, row, rule);
    } else {
        Silence(e, d, row, denied, openFailure, hungUp);
    }
    return e;
}

void Screen::Diagnose(const UpdateOutcome& outcome, bool denied, const std::string& openFailure,
                      bool hungUp) {
    const Explanation e =
        Explain(outcome, row_, ThisBuildProfile().bootIdRule, denied, openFailure, hungUp);
    if (e.finding.empty()) {
        return;
    }
    Json line = {{"event", "diagnosis"}, {"finding", e.finding}, {"text", e.text}};
    if (e.hasId) {
        line["id"] = e.id;
        line["idHex"] = Hex(e.id, 4);
        line["from"] = e.bootloader ? "bootloader" : "application";
        line["models"] = e.models;
    }
    if (e.bytesReceived >= 0) {
        line["bytesReceived"] = e.bytesReceived;
        line["lastBytes"] = e.lastBytes;
    }
    Event(line);
    OwnErrorLine(program_ + ": " + e.text);
}

}  // namespace fwburn::console

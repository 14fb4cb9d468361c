#include "burn/burn.hpp"

#include "burn/messages.hpp"
#include "catalogue/catalogue.hpp"
#include "catalogue/job_state.hpp"
#include "catalogue/sha256.hpp"
#include "protocol/app_commands.hpp"
#include "protocol/boot_commands.hpp"
#include "protocol/handshake.hpp"
#include "protocol/result_codes.hpp"
#include "protocol/transfer.hpp"

namespace fwburn {

namespace {

// What follows a pass: another pass (after an accepted update request) or the end.
enum class Next { Pass, End };

void Fail(Operator& op, const char* text) {
    op.StopElapsedTimer();
    op.ShowMessage(kErrorCaption, text, MessageIcon::Error);
}

// A refused bootloader version keeps the elapsed time counting while its message is open.
void RefuseVersion(Operator& op, const char* text) {
    op.ShowMessage(kErrorCaption, text, MessageIcon::Error);
    op.StopElapsedTimer();
}

Device* OpenLink(Operator& op, int row, char (&portName)[ShortText::kSize]) {
    selectedComPort.CopyTo(portName);
    if (RowInFamily(row, Family::UsbLinked)) {
        return op.OpenUsb();
    }
    return op.OpenSerial(portName);
}

// A cancelled prompt or wait ends the update without a further message.
Next Cancelled(Operator& op) {
    op.StopElapsedTimer();
    return Next::End;
}

Next RunReconnect(Operator& op, int row) {
    const fwburn::Reconnect r = ReconnectFor(row);
    if (r.kind == ReconnectKind::Wait) {
        return op.WaitSeconds(r.waitSeconds) == Answer::Cancel ? Cancelled(op) : Next::Pass;
    }
    op.Close(hSerial);
    hSerial = &ClosedDevice();
    if (op.ShowMessage(kInformationCaption, r.prompt, MessageIcon::Information) == Answer::Cancel ||
        op.WaitSeconds(r.waitSeconds) == Answer::Cancel) {
        return Cancelled(op);
    }
    // Not tested here: a reopen that failed shows up as a mode query without an answer.
    if (r.kind == ReconnectKind::ReplugUsb) {
        hSerial = op.OpenUsb();
    } else {
        char portName[ShortText::kSize];
        selectedComPort.CopyTo(portName);
        hSerial = op.OpenSerial(portName);
    }
    return Next::Pass;
}

Next ApplicationModeBranch(Operator& op, int row) {
    const uint8_t idResult = CheckID_A(*hSerial);
    if (idResult != 0) {
        Fail(op, ModelIdFailureMessage(idResult));
        return Next::End;
    }
    const uint16_t selectedId = selectedPLCID;
    const VariantRegister reg = VariantRegisterFor(selectedId);
    if (reg != VariantRegister::None) {
        bool answered = false;
        const uint16_t value = reg == VariantRegister::D1386 ? READ_D1386(*hSerial, answered)
                                                             : READ_D1148(*hSerial, answered);
        if (const char* mismatch = VariantMismatch(row, selectedId, value)) {
            Fail(op, mismatch);
            return Next::End;
        }
        // A read without an acceptable reply gives 0, the value that stands for RV7-KT5, TQ3 or
        // HU: silence must not confirm the variant whose firmware is about to be written.
        if (!answered) {
            Fail(op, kVariantReadFailedMessage);
            return Next::End;
        }
    } else if (IsVersionChecked(selectedId)) {
        ZL_fu_version = read_fu_version_A();
        if (const char* refusal = VersionRefusal(row, ZL_fu_version)) {
            RefuseVersion(op, refusal);
            return Next::End;
        }
    }
    const uint8_t updateResult = SendErase_A(*hSerial);
    if (updateResult != 0) {
        Fail(op, UpdateRequestFailureMessage(updateResult));
        return Next::End;
    }
    return RunReconnect(op, row);
}

Next BootModeBranch(Operator& op, int row) {
    if (CheckID_B(*hSerial) != 0) {
        Fail(op, kBootIdWrongMessage);
        return Next::End;
    }
    if (IsVersionChecked(selectedPLCID)) {
        if (read_fu_version_B() != 0) {
            Fail(op, kVersionReadFailedMessage);
            return Next::End;
        }
        if (const char* refusal = VersionRefusal(row, ZL_fu_version)) {
            RefuseVersion(op, refusal);
            return Next::End;
        }
    }
    if (SendErase_B(*hSerial) != 0) {
        Fail(op, kEraseFailedMessage);
    } else if (SendUpdate(*hSerial) != 0) {
        Fail(op, kUpdateSignalFailedMessage);
    } else if (SendFW(*hSerial) != 0) {
        Fail(op, kTransferFailedMessage);
    } else {
        op.StopElapsedTimer();
        const Outcome ok = SuccessOutcome(row);
        op.ShowMessage(ok.caption, ok.text, MessageIcon::Information);
    }
    return Next::End;
}

Next RunPass(Operator& op, int row) {
    DummyComm(*hSerial);
    const uint8_t mode = ConfirmComm(*hSerial);
    if (mode == kApplicationMode) {
        return ApplicationModeBranch(op, row);
    }
    if (mode == kBootMode) {
        return BootModeBranch(op, row);
    }
    Fail(op, ModeQueryFailureMessage(mode));
    return Next::End;
}

// Refused before any port was opened: the figures are still 0.
void EndRefused(Operator& op) {
    elapsedTime = 0;
    op.EnableStart(true);
    CloseFile();
}

void EndUpdate(Operator& op) {
    elapsedTime = 0;
    flashStatus = 0;
    progress = 0;
    errCounter = 0;
    totalErrCounter = 0;
    op.EnableStart(true);
    op.Close(hSerial);
    hSerial = &ClosedDevice();
    CloseFile();
}

}  // namespace

int StartBurn(const BurnJob& job) {
    Operator& op = *job.op;
    // The image is taken once: nothing done in the window during the update changes it.
    OpenImage(job.image.data, job.image.length);
    hGLOBAL = job.image.data;
    op.EnableStart(false);

    const int row = selectedPLCIdx;
    const char* refusal = ImageRefusal(row, jobImage.length);
    if (refusal == nullptr && !Sha256Matches(jobImage.data, jobImage.length, job.imageSha256)) {
        refusal = kImageCorruptedMessage;
    }
    if (refusal == nullptr && job.standInImage && !job.standInAllowed) {
        refusal = kStandInRefusedMessage;
    }
    if (refusal != nullptr) {
        Fail(op, refusal);
        EndRefused(op);
        ReleaseWorker();
        return 0;
    }

    char portName[ShortText::kSize];
    hSerial = OpenLink(op, row, portName);
    if (hSerial == &ClosedDevice()) {
        char text[30];
        OpenFailureText(RowInFamily(row, Family::UsbLinked) ? "USB" : portName, text);
        Fail(op, text);
        EndRefused(op);
        ReleaseWorker();
        return 0;
    }

    while (RunPass(op, row) == Next::Pass) {
    }
    EndUpdate(op);
    ReleaseWorker();
    return 0;
}

BurnJob ThisBuildJob(Operator& op) {
    BurnJob job;
    job.op = &op;
    job.image = TheEmbeddedImage();
    job.imageSha256 = ThisBuildProfile().imageSha256;
    job.standInImage = ThisBuildProfile().standInImage;
    return job;
}

}  // namespace fwburn

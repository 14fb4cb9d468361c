#include "burn/burn.hpp"

#include <cstdio>
#include <cstring>

#include "burn/messages.hpp"
#include "catalogue/sha256.hpp"
#include "link/counting_device.hpp"
#include "protocol/app_commands.hpp"
#include "protocol/boot_commands.hpp"
#include "protocol/handshake.hpp"
#include "protocol/result_codes.hpp"
#include "protocol/transfer.hpp"

namespace fwburn {

namespace {

// What follows a pass: another pass (after an accepted update request) or the end.
enum class Next { Pass, End };

// One update on the calling thread: the update, its channel and the outcome being made.
class Run {
  public:
    explicit Run(Update& u) : u_(u), op_(*u.op), progress_(u.figures, u.sink) {}

    UpdateOutcome Go();

  private:
    Channel channel() { return Channel{counting_, progress_}; }
    Device* Opened(Device* device);
    // Before a request: what came back so far, to tell its silence from the port's.
    uint32_t Received() const { return counting_.received(); }
    void NoteSilence(uint32_t receivedBefore);
    void NoteWrongModel(uint16_t id, bool bootloader);
    Next Fail(OutcomeKind kind, const char* text);
    Next RefuseVersion(const char* text, OutcomeKind kind = OutcomeKind::ControllerRefused);
    Next End(OutcomeKind kind, const char* caption, const char* text, MessageIcon icon);
    Next Cancelled();
    Next RunReconnect();
    Next ApplicationModeBranch();
    Next BootModeBranch();
    Next RunPass();
    void EndUpdate();

    Update& u_;
    Operator& op_;
    Progress progress_;
    UpdateOutcome outcome_;
    Diagnosis diagnosis_;
    // Every exchange goes through it: it counts what came back in the whole update, on every port
    // opened, and since the last open.
    CountingDevice counting_;
    bool reopened_ = false;        // the port was opened again after an accepted update request
    bool reopenFailed_ = false;    // and that open failed: the port is the closed device
    bool modelConfirmed_ = false;  // the application or the bootloader answered this model's ID
    // Captured once at the start: a file picked in the front end meanwhile changes nothing here.
    ImageSpan image_;
};

Next Run::End(OutcomeKind kind, const char* caption, const char* text, MessageIcon icon) {
    outcome_.kind = kind;
    outcome_.caption = caption;
    std::snprintf(outcome_.text, sizeof outcome_.text, "%s", text);
    outcome_.icon = icon;
    outcome_.erased = u_.eraseBegun;
    outcome_.diagnosis = diagnosis_;
    outcome_.surplusBytes = u_.figures.surplusBytes;
    return Next::End;
}

Device* Run::Opened(Device* device) {
    counting_.Attach(*device);
    return device;
}

// A failed reopen leaves the closed device, which is silent: the silence is the reopen's.
void Run::NoteSilence(uint32_t receivedBefore) {
    const uint32_t now = counting_.received();
    const bool silentSinceReopen = reopened_ && counting_.receivedSinceAttach() == 0;
    diagnosis_.finding = reopenFailed_           ? Finding::NotReopened
                         : now == 0              ? Finding::NoBytes
                         : silentSinceReopen     ? Finding::SilentSinceReopen
                         : now == receivedBefore ? Finding::OnlyEarlier
                                                 : Finding::NoValidReply;
    diagnosis_.bytesReceived = now;
    diagnosis_.modelConfirmed = modelConfirmed_;
    diagnosis_.sampleLength = static_cast<uint8_t>(counting_.sampleLength());
    std::memcpy(diagnosis_.sample, counting_.sample(), counting_.sampleLength());
}

void Run::NoteWrongModel(uint16_t id, bool bootloader) {
    diagnosis_.finding = Finding::WrongModel;
    diagnosis_.id = id;
    diagnosis_.bootloader = bootloader;
    diagnosis_.bytesReceived = counting_.received();
}

Next Run::Fail(OutcomeKind kind, const char* text) {
    op_.StopElapsedTimer();
    End(kind, kErrorCaption, text, MessageIcon::Error);
    op_.ShowOutcome(outcome_);
    return Next::End;
}

// A refused bootloader version keeps the elapsed time counting while its message is open.
Next Run::RefuseVersion(const char* text, OutcomeKind kind) {
    End(kind, kErrorCaption, text, MessageIcon::Error);
    op_.ShowOutcome(outcome_);
    op_.StopElapsedTimer();
    return Next::End;
}

// A cancelled prompt or wait ends the update without a further message.
Next Run::Cancelled() {
    op_.StopElapsedTimer();
    outcome_ = UpdateOutcome{};
    return Next::End;
}

Next Run::RunReconnect() {
    const Reconnect r = ReconnectFor(u_.row);
    if (r.kind == ReconnectKind::Wait) {
        return op_.WaitSeconds(r.waitSeconds) == Answer::Cancel ? Cancelled() : Next::Pass;
    }
    op_.Close(u_.device);
    u_.device = Opened(&ClosedDevice());
    if (op_.Prompt(r.kind, kInformationCaption, r.prompt) == Answer::Cancel ||
        op_.WaitSeconds(r.waitSeconds) == Answer::Cancel) {
        return Cancelled();
    }
    // A reopen that failed is not acted on here: it shows up as a mode query without an answer
    // (the window's message), and in the diagnosis as what it is.
    u_.device =
        Opened(r.kind == ReconnectKind::ReplugUsb ? op_.OpenUsb() : op_.OpenSerial(u_.portName));
    reopened_ = true;
    reopenFailed_ = u_.device == &ClosedDevice();
    return Next::Pass;
}

Next Run::ApplicationModeBranch() {
    Channel ch = channel();
    uint32_t before = Received();
    uint16_t id = 0;
    bool idCame = false;
    const uint8_t idResult = CheckID_A(ch, u_.row, id, idCame);
    if (idResult != 0) {
        if (idResult == kNoAcceptableReply) {
            idCame ? NoteWrongModel(id, false) : NoteSilence(before);
        }
        // A valid reply with another model's ID is a wrong controller, not a bad line, though the
        // message (the window's) says no response came.
        const bool wrongModel = idResult == kNoAcceptableReply && idCame;
        return Fail(wrongModel ? OutcomeKind::ControllerRefused : ModelIdFailureKind(idResult),
                    ModelIdFailureMessage(idResult));
    }
    modelConfirmed_ = true;
    const VariantRegister reg = VariantRegisterFor(u_.row);
    if (reg != VariantRegister::None) {
        bool answered = false;
        before = Received();
        const uint16_t value =
            reg == VariantRegister::D1386 ? READ_D1386(ch, answered) : READ_D1148(ch, answered);
        if (const char* mismatch = VariantMismatch(u_.row, value)) {
            return Fail(OutcomeKind::ControllerRefused, mismatch);
        }
        // A read without an acceptable reply gives 0, the value that stands for RV7-KT5, TQ3 or
        // HU: silence must not confirm the variant whose firmware is about to be written.
        if (!answered) {
            NoteSilence(before);
            return Fail(OutcomeKind::CommunicationFailed, kVariantReadFailedMessage);
        }
    } else if (ReadsBootloaderVersion(u_.row)) {
        bool answered = false;
        before = Received();
        u_.ZL_fu_version = read_fu_version_A(ch, answered);
        if (const char* refusal = VersionRefusal(u_.row, u_.ZL_fu_version)) {
            if (!answered) {
                // The window's message calls the version unknown; the line is at fault, not the
                // bootloader, and the front ends say so.
                NoteSilence(before);
                return RefuseVersion(refusal, OutcomeKind::CommunicationFailed);
            }
            return RefuseVersion(refusal);
        }
    }
    before = Received();
    const uint8_t updateResult = SendErase_A(ch, u_.row);
    if (updateResult != 0) {
        if (updateResult == kNoAcceptableReply) {
            NoteSilence(before);
        }
        return Fail(UpdateRequestFailureKind(updateResult),
                    UpdateRequestFailureMessage(updateResult));
    }
    return RunReconnect();
}

Next Run::BootModeBranch() {
    Channel ch = channel();
    uint32_t before = Received();
    uint16_t id = 0;
    bool idCame = false;
    if (CheckID_B(ch, u_.bootIdRule, u_.row, id, idCame) != 0) {
        idCame ? NoteWrongModel(id, true) : NoteSilence(before);
        // The window's message says the type is wrong either way; only an ID that came says so.
        return Fail(idCame ? OutcomeKind::ControllerRefused : OutcomeKind::CommunicationFailed,
                    kBootIdWrongMessage);
    }
    modelConfirmed_ = true;
    if (ReadsBootloaderVersion(u_.row)) {
        before = Received();
        if (read_fu_version_B(ch, u_.ZL_fu_version) != 0) {
            NoteSilence(before);
            return Fail(OutcomeKind::CommunicationFailed, kVersionReadFailedMessage);
        }
        if (const char* refusal = VersionRefusal(u_.row, u_.ZL_fu_version)) {
            return RefuseVersion(refusal);
        }
    }
    u_.eraseBegun = true;
    if (SendErase_B(ch, u_.row, image_.length) != 0) {
        return Fail(OutcomeKind::FailedAfterErase, kEraseFailedMessage);
    }
    if (SendUpdate(ch) != 0) {
        return Fail(OutcomeKind::FailedAfterErase, kUpdateSignalFailedMessage);
    }
    if (SendFW(ch, u_.row, image_) != 0) {
        return Fail(OutcomeKind::FailedAfterErase, kTransferFailedMessage);
    }
    op_.StopElapsedTimer();
    const Outcome ok = SuccessOutcome(u_.row);
    End(OutcomeKind::Success, ok.caption, ok.text, MessageIcon::Information);
    op_.ShowOutcome(outcome_);
    return Next::End;
}

Next Run::RunPass() {
    Channel ch = channel();
    DummyComm(ch, u_.row);
    const uint32_t before = Received();
    const uint8_t mode = ConfirmComm(ch, u_.row);
    if (mode == kApplicationMode) {
        return ApplicationModeBranch();
    }
    if (mode == kBootMode) {
        return BootModeBranch();
    }
    if (mode == kNoAcceptableReply) {
        NoteSilence(before);
    }
    return Fail(ModeQueryFailureKind(mode), ModeQueryFailureMessage(mode));
}

void Run::EndUpdate() {
    progress_.Reset();
    op_.EnableStart(true);
    op_.Close(u_.device);
    u_.device = &ClosedDevice();
}

UpdateOutcome Run::Go() {
    u_.device = &ClosedDevice();
    u_.ZL_fu_version = 0;
    u_.eraseBegun = false;
    diagnosis_ = Diagnosis{};
    op_.EnableStart(false);
    progress_.BeginPhase(Phase::Checking, 0);

    image_ = u_.image;
    const char* refusal = ImageRefusal(u_.row, image_.data != nullptr ? image_.length : 0);
    if (refusal == nullptr && !Sha256Matches(image_.data, image_.length, u_.imageSha256)) {
        refusal = kImageCorruptedMessage;
    }
    if (refusal == nullptr && u_.standInImage && !u_.standInAllowed) {
        refusal = kStandInRefusedMessage;
    }
    if (refusal != nullptr) {
        Fail(OutcomeKind::ImageRefused, refusal);
        // Refused before any port was opened: the figures are still 0.
        u_.figures.elapsedTime = 0;
        op_.EnableStart(true);
        return outcome_;
    }

    const bool usb = IsUsbLinked(u_.row);
    u_.device = Opened(usb ? op_.OpenUsb() : op_.OpenSerial(u_.portName));
    if (u_.device == &ClosedDevice()) {
        char text[30];
        OpenFailureText(usb ? "USB" : u_.portName, text);
        Fail(OutcomeKind::PortNotOpened, text);
        u_.figures.elapsedTime = 0;
        op_.EnableStart(true);
        return outcome_;
    }

    while (RunPass() == Next::Pass) {
    }
    EndUpdate();
    return outcome_;
}

}  // namespace

void Update::SetPortName(const char* name) {
    std::memset(portName, 0, sizeof portName);
    if (name != nullptr) {
        std::strncpy(portName, name, sizeof portName - 1);
    }
}

bool Update::UseThisBuild() {
    const BuildProfile& profile = ThisBuildProfile();
    const EmbeddedImage embedded = TheEmbeddedImage();
    image = ImageSpan{embedded.data, embedded.length};
    imageSha256 = profile.imageSha256;
    standInImage = profile.standInImage;
    bootIdRule = profile.bootIdRule;
    char model[10];
    ImageNameModel(profile.imageName, model);
    row = FindModelRow(model);
    return row >= 0;
}

UpdateOutcome StartBurn(Update& update) {
    return Run(update).Go();
}

}  // namespace fwburn

#include "ui/console/session/outcome.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "burn/messages.hpp"
#include "ui/console/show/json_line.hpp"
#include "ui/console/show/wording.hpp"

namespace fwburn::console {

namespace {

// Each kind of ending and its status; a status's result word is its kind's name.
constexpr std::pair<OutcomeKind, ExitCode> kStatuses[] = {
    {OutcomeKind::Success, kExitSuccess},
    {OutcomeKind::ImageRefused, kExitImageRefused},
    {OutcomeKind::PortNotOpened, kExitPortFailed},
    {OutcomeKind::ControllerRefused, kExitControllerRefused},
    {OutcomeKind::CommunicationFailed, kExitCommFailed},
    {OutcomeKind::FailedAfterErase, kExitFailedAfterErase},
    {OutcomeKind::Cancelled, kExitCancelled},
};

}  // namespace

ExitCode ExitCodeFor(OutcomeKind kind) {
    for (const auto& [k, code] : kStatuses) {
        if (k == kind) {
            return code;
        }
    }
    return kExitUnexpected;
}

const char* ResultName(ExitCode code) {
    for (const auto& [kind, c] : kStatuses) {
        if (c == code) {
            return OutcomeName(kind);
        }
    }
    return code == kExitUsage ? "usage" : code == kExitInterrupted ? "interrupted" : "unexpected";
}

int WorstExitCode(const std::vector<int>& codes) {
    // Most urgent first: a controller left erased, then the failures in the order a person
    // would chase them, and a cancel last, since it wrote nothing.
    static const int kOrder[] = {kExitFailedAfterErase, kExitCommFailed,   kExitControllerRefused,
                                 kExitPortFailed,       kExitImageRefused, kExitUnexpected};
    for (const int wanted : kOrder) {
        if (std::find(codes.begin(), codes.end(), wanted) != codes.end()) {
            return wanted;
        }
    }
    for (const int code : codes) {
        if (code != kExitSuccess && code != kExitCancelled) {
            return code;
        }
    }
    const bool cancelled = std::find(codes.begin(), codes.end(), kExitCancelled) != codes.end();
    return cancelled ? kExitCancelled : kExitSuccess;
}

UpdateOutcome NotOpened(bool usb, const std::string& port) {
    UpdateOutcome outcome;
    outcome.kind = OutcomeKind::PortNotOpened;
    outcome.caption = kErrorCaption;
    char text[30];
    OpenFailureText(usb ? "USB" : ShortPortName(port).c_str(), text);
    std::snprintf(outcome.text, sizeof outcome.text, "%s", text);
    return outcome;
}

UpdateOutcome NotStarted(const std::string& why) {
    UpdateOutcome outcome = NotOpened(false, {});
    std::snprintf(outcome.text, sizeof outcome.text, "could not be started: %s", why.c_str());
    return outcome;
}

std::string RefusedOutcomeJson(const char* caption, const std::string& text, ExitCode code) {
    return JsonText({{"event", "outcome"},
                     {"caption", caption != nullptr ? Json(caption) : Json()},
                     {"text", text},
                     {"exitCode", static_cast<int>(code)},
                     {"result", ResultName(code)},
                     {"erased", false},
                     {"surplusBytes", 0},
                     {"elapsed", Fixed(0.0)}});
}

}  // namespace fwburn::console

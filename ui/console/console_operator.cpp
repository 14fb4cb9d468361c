#include "ui/console/console_operator.hpp"

#include <cstring>

#include "catalogue/catalogue.hpp"

namespace fwburn::console {

bool IsReconnectPrompt(const char* text) {
    return text != nullptr &&
           (std::strcmp(text, kReplugPrompt) == 0 || std::strcmp(text, kPowerCyclePrompt) == 0);
}

ReconnectLimit::Step ReconnectLimit::OnPrompt() {
    ++accepted_;
    afterPrompt_ = true;
    if (!autoAnswer_) {
        return Step::kAsk;
    }
    return accepted_ > kAcceptedRequests ? Step::kGiveUp : Step::kContinue;
}

ReconnectLimit::Step ReconnectLimit::OnWait() {
    if (afterPrompt_) {
        afterPrompt_ = false;
        return Step::kContinue;
    }
    ++accepted_;
    return accepted_ > kAcceptedRequests ? Step::kGiveUp : Step::kContinue;
}

Answer ConsoleOperator::ShowMessage(const char* caption, const char* text, MessageIcon icon) {
    if (!IsReconnectPrompt(text)) {
        frontEnd_.ShowFinal(caption, text, icon);
        return Answer::Ok;
    }
    Answer answer = Answer::Ok;
    switch (limit_.OnPrompt()) {
        case ReconnectLimit::Step::kAsk:
            answer = frontEnd_.Ask(caption, text, limit_.accepted());
            break;
        case ReconnectLimit::Step::kContinue:
            frontEnd_.AnsweredPrompt(caption, text, limit_.accepted());
            break;
        case ReconnectLimit::Step::kGiveUp:
            frontEnd_.GaveUp(limit_.accepted() - 1);
            answer = Answer::Cancel;
            break;
    }
    cancelled_ = answer == Answer::Cancel;
    return answer;
}

Answer ConsoleOperator::WaitSeconds(int seconds) {
    if (limit_.OnWait() == ReconnectLimit::Step::kGiveUp) {
        frontEnd_.GaveUp(limit_.accepted() - 1);
        cancelled_ = true;
        return Answer::Cancel;
    }
    frontEnd_.Waiting(seconds);
    frontEnd_.Sleep(seconds);
    return Answer::Ok;
}

Device* ConsoleOperator::Open(bool usb) {
    const bool reopen = opens_++ > 0;
    std::string failure;
    Device* device = link_.Open(usb, failure);
    if (device == nullptr) {
        frontEnd_.OpenFailed(failure, reopen);
        return &ClosedDevice();
    }
    frontEnd_.Opened(link_.OpenedPath(), reopen);
    return device;
}

// The name is the one the worker keeps in selectedComPort, a short form of the path the link
// opens; the link holds the full path.
Device* ConsoleOperator::OpenSerial(const char*) {
    return Open(false);
}

Device* ConsoleOperator::OpenUsb() {
    return Open(true);
}

void ConsoleOperator::Close(Device* device) {
    if (device != nullptr && device != &ClosedDevice()) {
        link_.Close(device);
    }
}

}  // namespace fwburn::console

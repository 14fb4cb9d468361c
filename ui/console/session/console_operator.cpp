#include "ui/console/session/console_operator.hpp"

#include <cctype>
#include <cerrno>

namespace fwburn::console {

namespace {

Request Of(Request::Kind kind) {
    Request r;
    r.kind = kind;
    return r;
}

}  // namespace

std::string ConsoleWording(const std::string& text) {
    static const std::string kOk = "press OK";
    std::string shown = text;
    const size_t at = shown.find(kOk);
    if (at != std::string::npos) {
        shown.replace(at, kOk.size(), "press Enter");
    }
    return shown;
}

Answer AnswerForLine(const std::string& line) {
    std::string word;
    for (const char c : line) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return word.empty() || word == "y" || word == "yes" || word == "ok" ? Answer::Ok
                                                                        : Answer::Cancel;
}

std::optional<Answer> AnswerInput::Take(ssize_t n, char c, int error) {
    if (n < 0 && (error == EINTR || error == EAGAIN)) {
        return std::nullopt;
    }
    const bool afterCr = afterCr_;
    afterCr_ = n == 1 && c == '\r';
    if (n == 1 && c == '\n' && afterCr) {
        return std::nullopt;  // the CR before it ended the line
    }
    const bool ended = n == 1 && (c == '\n' || c == '\r');
    if (n == 1 && !ended && ++length_ <= kLongestLine) {
        // Only the word matters, and none of more than three letters goes on: four are kept.
        if (!skipping_ && !std::isspace(static_cast<unsigned char>(c)) &&
            typed_.size() < kLongestKept) {
            typed_ += c;
        }
        return std::nullopt;
    }
    const std::string line = typed_;
    typed_.clear();
    length_ = 0;
    // The rest of a line cancelled for its length is no line of its own: its end answers nothing
    // (a blank rest would say "go on" to the next prompt), and only another whole line's length
    // of it cancels again.
    const bool rest = skipping_;
    skipping_ = n == 1 && !ended;
    if (ended && rest) {
        return std::nullopt;
    }
    return ended ? AnswerForLine(line) : Answer::Cancel;
}

ReconnectLimit::Step ReconnectLimit::OnPrompt() {
    ++accepted_;
    afterPrompt_ = true;
    return !autoAnswer_                    ? Step::kAsk
           : accepted_ > kAcceptedRequests ? Step::kGiveUp
                                           : Step::kContinue;
}

ReconnectLimit::Step ReconnectLimit::OnWait() {
    if (afterPrompt_) {
        afterPrompt_ = false;
        return Step::kContinue;
    }
    ++accepted_;
    return accepted_ > kAcceptedRequests ? Step::kGiveUp : Step::kContinue;
}

Answer ConsoleOperator::GiveUp() {
    Request r = Of(Request::kGaveUp);
    r.number = limit_.accepted() - 1;
    frontEnd_.Send(std::move(r));
    return Answer::Cancel;
}

Answer ConsoleOperator::Prompt(ReconnectKind, const char* caption, const char* text) {
    const ReconnectLimit::Step step = limit_.OnPrompt();
    if (step == ReconnectLimit::Step::kGiveUp) {
        return GiveUp();
    }
    Request r = Of(step == ReconnectLimit::Step::kAsk ? Request::kAsk : Request::kAnswered);
    r.caption = caption;
    r.text = ConsoleWording(text);
    r.number = limit_.accepted();
    const Answer answer = frontEnd_.Send(std::move(r));
    return step == ReconnectLimit::Step::kAsk ? answer : Answer::Ok;
}

void ConsoleOperator::ShowOutcome(const UpdateOutcome& outcome) {
    Request r = Of(Request::kFinal);
    r.outcome = outcome;
    r.denied = denied_;
    r.openFailure = openFailure_;
    r.hungUp = link_.LastDeviceHungUp();
    frontEnd_.Send(std::move(r));
}

// Waits for the main thread: the worker clears the elapsed time right after, and the main thread
// must have stopped counting it by then.
void ConsoleOperator::StopElapsedTimer() {
    frontEnd_.Send(Of(Request::kStopTimer));
}

Answer ConsoleOperator::WaitSeconds(int seconds) {
    if (limit_.OnWait() == ReconnectLimit::Step::kGiveUp) {
        return GiveUp();
    }
    Request r = Of(Request::kWaiting);
    r.number = seconds;
    frontEnd_.Send(std::move(r));
    frontEnd_.Sleep(seconds);
    return Answer::Ok;
}

Device* ConsoleOperator::Open(bool usb) {
    const bool reopen = opens_++ > 0;
    std::string failure;
    Device* device = link_.Open(usb, failure);
    denied_ = device == nullptr && link_.LastOpenDenied();
    openFailure_ = device == nullptr ? failure : std::string();
    Request r = Of(device == nullptr ? Request::kOpenFailed : Request::kOpened);
    r.text = device == nullptr ? failure : link_.OpenedPath();
    r.reopen = reopen;
    frontEnd_.Send(std::move(r));
    return device == nullptr ? &ClosedDevice() : device;
}

void ConsoleOperator::Close(Device* device) {
    if (device != nullptr && device != &ClosedDevice()) {
        link_.Close(device);
    }
}

void ConsoleOperator::PhaseStarted(Phase phase, uint32_t total) {
    Request r = Of(Request::kPhase);
    r.phase = phase;
    r.total = total;
    frontEnd_.Send(std::move(r));
}

void ConsoleOperator::Advanced(Phase phase, uint32_t done, uint32_t total, int32_t percent) {
    Request r = Of(Request::kAdvanced);
    r.phase = phase;
    r.done = done;
    r.total = total;
    r.percent = percent;
    frontEnd_.Send(std::move(r));
}

void ConsoleOperator::Retried(Phase phase, int32_t errCounter, int32_t totalErrCounter) {
    Request r = Of(Request::kRetried);
    r.phase = phase;
    r.errCounter = errCounter;
    r.totalErrCounter = totalErrCounter;
    frontEnd_.Send(std::move(r));
}

}  // namespace fwburn::console

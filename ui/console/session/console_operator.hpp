// The burn worker's operator and progress sink in a console program: what the worker asks and
// tells goes to the front end on the main thread, the device comes from a link, and a controller
// that never leaves its application is given up on instead of being asked into its bootloader for
// ever.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "burn/operator.hpp"
#include "protocol/progress.hpp"

namespace fwburn::console {

// One thing the worker asks or tells the main thread.
struct Request {
    enum Kind {
        kAsk,  // a reconnect prompt the person must answer (Ok on Enter, Cancel at end of input)
        kAnswered,    // a reconnect prompt --yes answered
        kFinal,       // the final message; the worker waits until it is shown
        kGaveUp,      // the controller stayed in its application after `number` requests
        kWaiting,     // `number` seconds for the controller to restart
        kOpened,      // `text` is the path
        kOpenFailed,  // `text` is the path and the reason
        kStopTimer,   // the worker waits until the elapsed time stopped counting
        kPhase,       // a phase began with `total` steps
        kAdvanced,    // `done` of `total` steps acknowledged, `percent` as the panel shows it
        kRetried,     // an attempt failed: `errCounter` and `totalErrCounter` after it
        kDone,        // the worker has returned `outcome`
    };
    Kind kind = kDone;
    std::string caption;
    std::string text;
    UpdateOutcome outcome;
    int number = 0;  // accepted update requests, or seconds
    bool reopen = false;
    bool denied = false;      // kFinal: the last open failed for want of permission
    std::string openFailure;  // kFinal: why the last open failed; empty when it did not
    bool hungUp = false;      // kFinal: the device opened last went away under the update
    Phase phase = Phase::Checking;
    uint32_t done = 0;
    uint32_t total = 0;
    int32_t percent = 0;
    int32_t errCounter = 0;
    int32_t totalErrCounter = 0;

    bool NeedsReply() const { return kind == kAsk || kind == kFinal || kind == kStopTimer; }
};

// The main thread's side, called from the worker.
class FrontEnd {
  public:
    virtual ~FrontEnd() = default;
    // Hands `request` over; one that NeedsReply() blocks until the main thread answers.
    virtual Answer Send(Request request) = 0;
    // Sleeps on the worker thread.
    virtual void Sleep(int seconds) = 0;
};

// Opens and closes the one device of the update.
class Link {
  public:
    virtual ~Link() = default;
    // The device, or nullptr with `failure` saying why (the path and the reason).
    virtual Device* Open(bool usb, std::string& failure) = 0;
    virtual void Close(Device* device) = 0;
    // The path of the device opened last.
    virtual std::string OpenedPath() const = 0;
    // The last open failed for want of permission.
    virtual bool LastOpenDenied() const { return false; }
    // The device opened last was found hung up: it went away under the update.
    virtual bool LastDeviceHungUp() const { return false; }
};

// A prompt's text as the console shows it: the window's "press OK" is Enter here, there being
// no OK button.
std::string ConsoleWording(const std::string& text);

// The answer to a reconnect prompt from the line typed before Enter: the empty line, "y", "yes"
// or "ok", in any case and with blanks around, go on; anything else cancels, since what goes on
// erases the controller and a word such as "quit" or "stop" must never do that.
Answer AnswerForLine(const std::string& line);

// A prompt's answer read from the terminal one byte at a time, so that a line typed ahead answers
// one prompt and no more.
class AnswerInput {
  public:
    // A line longer than a terminal lets anyone type is no answer but a stream (/dev/zero): it
    // cancels, as end of input does, rather than being read for ever.
    static constexpr size_t kLongestLine = 4096;

    // `n` is what read() returned for the one byte `c`: 1, 0 at end of input (which cancels), or
    // -1. Empty while the line goes on or the read is to be tried again (EINTR, EAGAIN in
    // `error`).
    std::optional<Answer> Take(ssize_t n, char c, int error);
    // The bytes kept of the line typed so far: a few, however long it is.
    size_t held() const { return typed_.size(); }

  private:
    static constexpr size_t kLongestKept = 4;
    std::string typed_;      // its letters, blanks left out
    size_t length_ = 0;      // the line's bytes so far
    bool afterCr_ = false;   // Enter in raw mode is CR, and CR LF is one line end
    bool skipping_ = false;  // the rest of a line that cancelled for its length
};

// Counts the update requests the controller accepted (a reconnect prompt, or a wait that no
// prompt came before) and decides what each reconnect step does.
class ReconnectLimit {
  public:
    static constexpr int kAcceptedRequests = 3;

    enum class Step { kAsk, kContinue, kGiveUp };

    explicit ReconnectLimit(bool autoAnswer) : autoAnswer_(autoAnswer) {}

    // A reconnect prompt: the person answers, unless --yes does, and --yes stops answering once
    // the controller has come back in its application after kAcceptedRequests requests.
    Step OnPrompt();
    // A wait: the one after a prompt belongs to it; one on its own is a request of a model that
    // restarts by itself, where nobody could answer, so the limit holds with or without --yes.
    Step OnWait();
    int accepted() const { return accepted_; }

  private:
    bool autoAnswer_;
    bool afterPrompt_ = false;
    int accepted_ = 0;
};

class ConsoleOperator final : public Operator, public ProgressSink {
  public:
    ConsoleOperator(FrontEnd& frontEnd, Link& link, bool autoAnswer)
        : frontEnd_(frontEnd), link_(link), limit_(autoAnswer) {}

    Answer Prompt(ReconnectKind kind, const char* caption, const char* text) override;
    void ShowOutcome(const UpdateOutcome& outcome) override;
    void EnableStart(bool) override {}
    void StopElapsedTimer() override;
    Answer WaitSeconds(int seconds) override;
    // The name is the update's short form of the path; the link holds the full path.
    Device* OpenSerial(const char*) override { return Open(false); }
    Device* OpenUsb() override { return Open(true); }
    void Close(Device* device) override;

    void PhaseStarted(Phase phase, uint32_t total) override;
    void Advanced(Phase phase, uint32_t done, uint32_t total, int32_t percent) override;
    void Retried(Phase phase, int32_t errCounter, int32_t totalErrCounter) override;

  private:
    Device* Open(bool usb);
    Answer GiveUp();

    FrontEnd& frontEnd_;
    Link& link_;
    ReconnectLimit limit_;
    int opens_ = 0;
    bool denied_ = false;
    std::string openFailure_;
};

}  // namespace fwburn::console

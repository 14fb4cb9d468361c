// The burn worker's operator in a console program: messages and prompts go to the front end on
// the main thread, the device comes from a link, and a controller that never leaves its
// application is given up on instead of being asked into its bootloader for ever.
#pragma once

#include <string>

#include "burn/operator.hpp"

namespace fwburn::console {

// The main thread's side, called from the worker. The calls that carry an answer block until
// it is there; the others return at once.
class FrontEnd {
  public:
    virtual ~FrontEnd() = default;
    // A reconnect prompt the person must answer: Ok on Enter, Cancel at end of input. `accepted`
    // counts the update requests the controller accepted so far.
    virtual Answer Ask(const char* caption, const char* text, int accepted) = 0;
    // A reconnect prompt answered by --yes, with the count of update requests accepted so far.
    virtual void AnsweredPrompt(const char* caption, const char* text, int accepted) = 0;
    // The update's final message; returns once it is shown.
    virtual void ShowFinal(const char* caption, const char* text, MessageIcon icon) = 0;
    // The controller stayed in its application after `accepted` update requests.
    virtual void GaveUp(int accepted) = 0;
    virtual void Waiting(int seconds) = 0;
    virtual void Opened(const std::string& path, bool reopen) = 0;
    virtual void OpenFailed(const std::string& reason, bool reopen) = 0;
    virtual void StopElapsedTimer() = 0;
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

class ConsoleOperator final : public Operator {
  public:
    ConsoleOperator(FrontEnd& frontEnd, Link& link, bool autoAnswer)
        : frontEnd_(frontEnd), link_(link), limit_(autoAnswer) {}

    Answer ShowMessage(const char* caption, const char* text, MessageIcon icon) override;
    void EnableStart(bool) override {}
    void StopElapsedTimer() override { frontEnd_.StopElapsedTimer(); }
    Answer WaitSeconds(int seconds) override;
    Device* OpenSerial(const char* portName) override;
    Device* OpenUsb() override;
    void Close(Device* device) override;

    // The update ended at a reconnect step without a final message.
    bool cancelled() const { return cancelled_; }

  private:
    Device* Open(bool usb);

    FrontEnd& frontEnd_;
    Link& link_;
    ReconnectLimit limit_;
    int opens_ = 0;
    bool cancelled_ = false;
};

// The worker's two reconnect prompts.
bool IsReconnectPrompt(const char* text);

}  // namespace fwburn::console

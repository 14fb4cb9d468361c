// The worker's way to the main thread: the operator's calls become requests in a queue that the
// main thread's loop takes, next to its signals, the keyboard and the 100 ms figure samples. A
// request that needs an answer blocks the worker until the main thread replies, as a modal
// message box blocks the window's worker.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "ui/console/console_operator.hpp"

namespace fwburn::console {

struct Request {
    enum Kind {
        kAsk,       // needs a reply
        kAnswered,  // a prompt --yes answered
        kFinal,     // needs a reply
        kGaveUp,
        kWaiting,
        kOpened,
        kOpenFailed,
        kStopTimer,  // needs a reply
        kDone,       // the worker has returned
    };
    Kind kind = kDone;
    std::string caption;
    std::string text;
    MessageIcon icon = MessageIcon::Information;
    int number = 0;
    bool reopen = false;
};

class Mailbox final : public FrontEnd {
  public:
    Mailbox();
    ~Mailbox() override;
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    // Readable while requests wait: the main thread polls it.
    int wakeFd() const { return wake_; }

    // Worker thread.
    Answer Ask(const char* caption, const char* text, int accepted) override;
    void AnsweredPrompt(const char* caption, const char* text, int accepted) override;
    void ShowFinal(const char* caption, const char* text, MessageIcon icon) override;
    void GaveUp(int accepted) override;
    void Waiting(int seconds) override;
    void Opened(const std::string& path, bool reopen) override;
    void OpenFailed(const std::string& reason, bool reopen) override;
    void StopElapsedTimer() override;
    void Sleep(int seconds) override;
    void Done();

    // Main thread.
    std::optional<Request> Take();
    void Reply(Answer answer);

  private:
    void Post(Request request);
    Answer PostAndWait(Request request);

    std::mutex mutex_;
    std::condition_variable replied_;
    std::deque<Request> queue_;
    std::optional<Answer> reply_;
    int wake_ = -1;
};

}  // namespace fwburn::console

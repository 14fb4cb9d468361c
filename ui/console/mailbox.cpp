#include "ui/console/mailbox.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>

namespace fwburn::console {

Mailbox::Mailbox() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wake_ < 0) {
        throw std::runtime_error("eventfd failed");
    }
}

Mailbox::~Mailbox() {
    close(wake_);
}

void Mailbox::Post(Request request) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(request));
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t done = write(wake_, &one, sizeof one);
}

Answer Mailbox::PostAndWait(Request request) {
    Post(std::move(request));
    std::unique_lock<std::mutex> lock(mutex_);
    replied_.wait(lock, [this] { return reply_.has_value(); });
    const Answer answer = *reply_;
    reply_.reset();
    return answer;
}

Answer Mailbox::Ask(const char* caption, const char* text, int accepted) {
    Request r;
    r.kind = Request::kAsk;
    r.caption = caption;
    r.text = text;
    r.number = accepted;
    return PostAndWait(std::move(r));
}

void Mailbox::AnsweredPrompt(const char* caption, const char* text, int accepted) {
    Request r;
    r.kind = Request::kAnswered;
    r.caption = caption;
    r.text = text;
    r.number = accepted;
    Post(std::move(r));
}

void Mailbox::ShowFinal(const char* caption, const char* text, MessageIcon icon) {
    Request r;
    r.kind = Request::kFinal;
    r.caption = caption;
    r.text = text;
    r.icon = icon;
    PostAndWait(std::move(r));
}

void Mailbox::GaveUp(int accepted) {
    Request r;
    r.kind = Request::kGaveUp;
    r.number = accepted;
    Post(std::move(r));
}

void Mailbox::Waiting(int seconds) {
    Request r;
    r.kind = Request::kWaiting;
    r.number = seconds;
    Post(std::move(r));
}

void Mailbox::Opened(const std::string& path, bool reopen) {
    Request r;
    r.kind = Request::kOpened;
    r.text = path;
    r.reopen = reopen;
    Post(std::move(r));
}

void Mailbox::OpenFailed(const std::string& reason, bool reopen) {
    Request r;
    r.kind = Request::kOpenFailed;
    r.text = reason;
    r.reopen = reopen;
    Post(std::move(r));
}

// Waits for the main thread: the worker clears the elapsed time right after, and the main thread
// must have stopped counting it by then.
void Mailbox::StopElapsedTimer() {
    Request r;
    r.kind = Request::kStopTimer;
    PostAndWait(std::move(r));
}

void Mailbox::Sleep(int seconds) {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

void Mailbox::Done() {
    Post(Request{});
}

std::optional<Request> Mailbox::Take() {
    uint64_t count;
    [[maybe_unused]] const ssize_t done = read(wake_, &count, sizeof count);
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) {
        return std::nullopt;
    }
    Request r = std::move(queue_.front());
    queue_.pop_front();
    return r;
}

void Mailbox::Reply(Answer answer) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reply_ = answer;
    }
    replied_.notify_one();
}

}  // namespace fwburn::console

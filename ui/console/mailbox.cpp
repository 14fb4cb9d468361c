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

Answer Mailbox::Send(Request request) {
    const bool wait = request.NeedsReply();
    const bool progressStep = request.kind == Request::kAdvanced;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(request));
    }
    if (!progressStep) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t done = write(wake_, &one, sizeof one);
    }
    if (!wait) {
        return Answer::Ok;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    replied_.wait(lock, [this] { return reply_.has_value(); });
    const Answer answer = *reply_;
    reply_.reset();
    return answer;
}

void Mailbox::Sleep(int seconds) {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

std::optional<Request> Mailbox::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) {
        // Only now: a wake-up written after this read comes with a request queued before it.
        uint64_t count;
        [[maybe_unused]] const ssize_t done = read(wake_, &count, sizeof count);
        return std::nullopt;
    }
    Request r = std::move(queue_.front());
    queue_.pop_front();
    return r;
}

std::optional<Request> Mailbox::TakeProgress() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) {
        return std::nullopt;
    }
    const Request::Kind kind = queue_.front().kind;
    if (kind != Request::kPhase && kind != Request::kAdvanced && kind != Request::kRetried) {
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

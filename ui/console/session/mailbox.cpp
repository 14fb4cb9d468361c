#include "ui/console/session/mailbox.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

namespace fwburn::console {

Answer Mailbox::Send(Request request) {
    const bool wait = request.NeedsReply();
    const bool progressStep = request.kind == Request::kAdvanced;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(request));
    }
    if (!progressStep && wake_) {
        wake_();
    }
    if (!wait) {
        return Answer::Ok;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    replied_.wait(lock, [this] { return reply_.has_value() || closed_; });
    const Answer answer = closed_ ? Answer::Cancel : *reply_;
    reply_.reset();
    return answer;
}

void Mailbox::Sleep(int seconds) {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

std::optional<Request> Mailbox::Take(bool progressOnly) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) {
        return std::nullopt;
    }
    const Request::Kind kind = queue_.front().kind;
    if (progressOnly && kind != Request::kPhase && kind != Request::kAdvanced &&
        kind != Request::kRetried) {
        return std::nullopt;
    }
    Request r = std::move(queue_.front());
    queue_.pop_front();
    return r;
}

void Mailbox::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    replied_.notify_all();
}

bool Mailbox::HoldsEnd() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(queue_.begin(), queue_.end(), [](const Request& r) {
        return r.kind == Request::kStopTimer || r.kind == Request::kFinal ||
               r.kind == Request::kDone;
    });
}

void Mailbox::Reply(Answer answer) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reply_ = answer;
    }
    replied_.notify_one();
}

}  // namespace fwburn::console

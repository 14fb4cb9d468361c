#include "ui/console/posix/console_trace.hpp"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace fwburn::console {

ConsoleTrace::ConsoleTrace(const std::string& path, std::function<int64_t()> clockMs,
                           size_t maxPending)
    : path_(path) {
    if (path.empty()) {
        return;
    }
    int fd;
    do {
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        openError_ = errno;
        return;
    }
    file_ = std::make_unique<QueuedFile>(fd, maxPending);
    writer_ = std::make_unique<TraceWriter>(*file_, std::move(clockMs));
}

ConsoleTrace::~ConsoleTrace() = default;

int ConsoleTrace::WriteError() const {
    return file_ != nullptr ? file_->Error() : 0;
}

std::string ConsoleTrace::ErrorReason() const {
    return std::strerror(WriteError());
}

std::string ConsoleTrace::ErrorNote() const {
    return "--trace " + path_ + ": cannot write: " + ErrorReason() +
           "; the trace stops here, the update goes on";
}

size_t ConsoleTrace::DroppedAtOutcome() {
    if (file_ == nullptr) {
        return 0;
    }
    if (!file_->DrainUntil(QueuedFile::Clock::now() + kStall) && file_->Stalled(kStall)) {
        file_->GiveUp();
    }
    return file_->Dropped();
}

size_t ConsoleTrace::Finish() {
    if (file_ == nullptr) {
        return 0;
    }
    const auto last = QueuedFile::Clock::now() + kEndAtMost;
    while (!file_->DrainUntil(std::min(last, QueuedFile::Clock::now() + kStall))) {
        if (file_->Stalled(kStall) || QueuedFile::Clock::now() >= last) {
            file_->GiveUp();
            break;
        }
    }
    return file_->Missing();
}

std::string ConsoleTrace::DroppedNote(size_t dropped) const {
    return "--trace " + path_ + ": " + std::to_string(dropped) +
           (dropped == 1 ? " line" : " lines") + " dropped: the file did not take them in time";
}

}  // namespace fwburn::console

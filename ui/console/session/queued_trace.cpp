#include "ui/console/session/queued_trace.hpp"

#include <algorithm>
#include <chrono>
#include <utility>

namespace fwburn::console {

QueuedFile::QueuedFile(std::shared_ptr<Destinations> file, size_t maxPending) : file_(file) {
    WriterLanes::Options options;
    options.maxPending = maxPending;
    options.endAtError = true;
    lanes_ = std::make_shared<WriterLanes>(std::move(file), options);
    WriterLanes::Start(lanes_);
}

QueuedFile::~QueuedFile() {
    lanes_->Leave();
}

int QueuedFile::Put(const std::string& line) {
    Post(line);
    return ErrorErrno();
}

int QueuedFile::ErrorErrno() const {
    const int error = Error();
    return error == 0 ? 0 : file_->Errno(error);
}

std::string QueuedFile::ErrorText() const {
    return file_->Reason(Error());
}

QueuedTrace::QueuedTrace(const std::string& path, std::shared_ptr<Destinations> file,
                         std::function<int64_t()> clockMs, size_t maxPending)
    : path_(path),
      file_(std::make_unique<QueuedFile>(std::move(file), maxPending)),
      writer_(std::make_unique<TraceWriter>(*file_, std::move(clockMs))) {}

QueuedTrace::~QueuedTrace() = default;

std::string QueuedTrace::ErrorReason() const {
    return file_->ErrorText();
}

std::string QueuedTrace::ErrorNote() const {
    return "--trace " + path_ + ": cannot write: " + ErrorReason() + "; the trace stops here";
}

size_t QueuedTrace::DroppedAtOutcome() {
    if (!file_->DrainUntil(QueuedFile::Clock::now() + kStall) && file_->Stalled(kStall)) {
        file_->GiveUp();
    }
    return file_->Dropped();
}

size_t QueuedTrace::Finish() {
    const auto last = QueuedFile::Clock::now() + kEndAtMost;
    while (!file_->DrainUntil(std::min(last, QueuedFile::Clock::now() + kStall))) {
        if (file_->Stalled(kStall) || QueuedFile::Clock::now() >= last) {
            file_->GiveUp();
            break;
        }
    }
    return file_->Missing();
}

std::string QueuedTrace::DroppedNote(size_t dropped) const {
    return "--trace " + path_ + ": " + std::to_string(dropped) +
           (dropped == 1 ? " line" : " lines") + " dropped: the file did not take them in time";
}

std::unique_ptr<QueuedTrace> TraceOn(const std::string& path, std::shared_ptr<Destinations> file) {
    if (file == nullptr) {
        return nullptr;
    }
    return std::make_unique<QueuedTrace>(path, std::move(file), [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    });
}

}  // namespace fwburn::console

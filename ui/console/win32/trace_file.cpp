#include "ui/console/win32/trace_file.hpp"

#include <algorithm>
#include <utility>

#include "ui/console/win32/text.hpp"

namespace fwburn::console {

class TraceFile::Sink final : public TraceSink {
  public:
    explicit Sink(QueuedHandle& file) : file_(file) {}
    int Put(const std::string& line) override {
        file_.Post(line);
        const DWORD error = file_.Error();
        return error == 0 ? 0 : ErrnoOf(error);
    }

  private:
    QueuedHandle& file_;
};

TraceFile::TraceFile(const std::string& path, std::function<int64_t()> clockMs) : path_(path) {
    const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        openError_ = ErrnoOf(GetLastError());
        return;
    }
    file_ = std::make_unique<QueuedHandle>(h);
    sink_ = std::make_unique<Sink>(*file_);
    writer_ = std::make_unique<TraceWriter>(*sink_, std::move(clockMs));
}

TraceFile::~TraceFile() = default;

int TraceFile::WriteError() const {
    const DWORD error = file_ != nullptr ? file_->Error() : 0;
    return error == 0 ? 0 : ErrnoOf(error);
}

std::string TraceFile::ErrorReason() const {
    return file_ != nullptr && file_->Error() != 0 ? ErrorText(file_->Error()) : "";
}

std::string TraceFile::ErrorNote() const {
    return "--trace " + path_ + ": cannot write: " + ErrorReason() +
           "; the trace stops here, the update goes on";
}

size_t TraceFile::DroppedAtOutcome() {
    if (file_ == nullptr) {
        return 0;
    }
    if (!file_->DrainUntil(QueuedHandle::Clock::now() + kStall) && file_->Stalled(kStall)) {
        file_->GiveUp();
    }
    return file_->Dropped();
}

size_t TraceFile::Finish() {
    if (file_ == nullptr) {
        return 0;
    }
    const auto last = QueuedHandle::Clock::now() + kEndAtMost;
    while (!file_->DrainUntil(std::min(last, QueuedHandle::Clock::now() + kStall))) {
        if (file_->Stalled(kStall) || QueuedHandle::Clock::now() >= last) {
            file_->GiveUp();
            break;
        }
    }
    return file_->Missing();
}

std::string TraceFile::DroppedNote(size_t dropped) const {
    return "--trace " + path_ + ": " + std::to_string(dropped) +
           (dropped == 1 ? " line" : " lines") + " dropped: the file did not take them in time";
}

}  // namespace fwburn::console

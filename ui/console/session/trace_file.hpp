// --trace: the link's bytes and settings recorded to a file for field support.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "link/trace/trace_writer.hpp"
#include "ui/console/show/screen.hpp"

namespace fwburn::console {

// The link's bytes and settings recorded to a file; a write that fails is said once and carried
// into the outcome, and the update goes on.
class TraceFile {
  public:
    explicit TraceFile(std::string path) : path_(std::move(path)) {
        file_ = std::fopen(path_.c_str(), "w");
        if (file_ != nullptr) {
            writer_ = std::make_unique<TraceWriter>(file_, [] {
                return std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                    .count();
            });
        }
    }
    ~TraceFile() {
        writer_.reset();
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    TraceWriter* writer() { return writer_.get(); }
    void Check(Screen& screen) {
        if (writer_ == nullptr || shown_ || writer_->WriteError() == 0) {
            return;
        }
        shown_ = true;
        const std::string reason = std::strerror(writer_->WriteError());
        screen.Note("--trace " + path_ + ": cannot write: " + reason +
                    "; the trace stops here, the update goes on");
        screen.AddOutcomeField("traceError", reason);
    }

  private:
    std::string path_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<TraceWriter> writer_;
    bool shown_ = false;
};

}  // namespace fwburn::console

// The end of a session: the workers joined, then the single outcome's notes, the several
// controllers' summary or the looks' table, and the terminal given back.
#include "ui/console/session/session.hpp"

#include "ui/console/session/outcome.hpp"
#include "ui/console/show/board.hpp"
#include "ui/console/show/info_table.hpp"

namespace fwburn::console {

int Session::Finish() {
    for (auto& run : runs_) {
        run->Join();
    }
    if (linkLock_ != nullptr) {
        linkLock_->Release();  // every port is closed for good
    }
    if (awake_ != nullptr) {
        awake_->Release();  // every worker has returned: nothing is written any more
    }
    int code = kExitSuccess;
    if (kind_ == Run::Kind::kLook) {
        code = LookResults();
    } else if (several()) {
        code = Summary();
    } else {
        code = runs_.front()->code;
        // The closing note comes after the outcome: only now is a failure on it known.
        const size_t dropped = trace_ != nullptr ? trace_->Finish() : 0;
        CheckTrace(*runs_.front()->screen);
        if (dropped > 0) {
            runs_.front()->screen->Note(trace_->DroppedNote(dropped));
        }
    }
    for (auto& run : runs_) {
        if (run->screen != nullptr) {
            run->screen->Restore();
        }
    }
    return code;
}

// Each controller's last line stays, as a single update's last status line does; then the table.
int Session::Summary() {
    DrawBoard();
    boardLines_ = 0;
    std::vector<SummaryRow> rows;
    for (auto& run : runs_) {
        rows.push_back(
            {run->target.Identity(), run->code, run->elapsed, run->message, run->target.port});
    }
    return ShowSummary(host_.out(), rows, mode_ == ScreenMode::kJson,
                       mode_ == ScreenMode::kTerminal ? host_.Columns() : 0, Seconds());
}

int Session::LookResults() {
    std::vector<InfoRow> rows;
    for (auto& run : runs_) {
        rows.push_back(run->look);
    }
    return ShowInfo(host_.out(), rows, info_.program, programRow_, options_.json, info_.standIn);
}

}  // namespace fwburn::console

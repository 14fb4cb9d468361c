#include "ui/console/session/writer_lanes.hpp"

#include <algorithm>
#include <thread>
#include <utility>

namespace fwburn::console {

void Destinations::StartThread(std::function<void()> run) {
    std::thread(std::move(run)).detach();
}

WriterLanes::WriterLanes(std::shared_ptr<Destinations> destinations, const Options& options)
    : destinations_(std::move(destinations)),
      maxPending_(options.maxPending),
      endAtError_(options.endAtError),
      lanes_(options.lanes) {}

void WriterLanes::Start(const std::shared_ptr<WriterLanes>& self) {
    for (size_t index = 0; index < self->lanes_.size(); ++index) {
        self->destinations_->StartThread([self, index] { self->Run(index); });
    }
}

bool WriterLanes::IdleLocked() const {
    return std::none_of(lanes_.begin(), lanes_.end(), Busy);
}

bool WriterLanes::Idle() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return IdleLocked();
}

bool WriterLanes::DrainUntil(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_until(lock, deadline, [this] { return IdleLocked(); });
}

void WriterLanes::Post(size_t index, size_t to, const char* data, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lane& lane = lanes_[index];
    // An empty piece writes nothing, and queued it would begin a run of its own: between a
    // drawing and the redraw that climbs over it, it would let the drawing go.
    if (left_ || lane.error != 0 || size == 0) {
        return;
    }
    Piece piece{to, std::string(data, size), !lane.open, data[0] == '\r', ClimbsBack(data, size)};
    lane.open = data[size - 1] != '\n';
    if (piece.startsLine || piece.redraws) {
        lane.cutOff = false;
    } else if (lane.cutOff) {
        CountDropped(lane, size);
        return;
    }
    if (!Busy(lane)) {
        lane.movedAt = Clock::now();
    }
    lane.queue.push_back(std::move(piece));
    lane.pending += size;
    DropBeyondBound(lane);
    changed_.notify_all();
}

// Begins by moving the cursor up: it redraws lines the pieces before it wrote (a board of
// several controllers), from where they left the cursor. How many lines; 0 when it does not.
size_t WriterLanes::ClimbsBack(const char* data, size_t size) {
    size_t at = 2;
    size_t lines = 0;
    if (size < 3 || data[0] != '\033' || data[1] != '[') {
        return 0;
    }
    for (; at < size && data[at] >= '0' && data[at] <= '9' && lines < 100000; ++at) {
        lines = lines * 10 + static_cast<size_t>(data[at] - '0');
    }
    return at < size && data[at] == 'A' ? std::max<size_t>(lines, 1) : 0;
}

void WriterLanes::CountDropped(Lane& lane, size_t bytes) {
    droppedBytes_ += bytes;
    ++lane.droppedPieces;
}

void WriterLanes::DropFront(Lane& lane) {
    CountDropped(lane, lane.queue.front().bytes.size());
    lane.pending -= lane.queue.front().bytes.size();
    lane.queue.pop_front();
}

// The queue runs from one update to the next: a piece that starts a line or redraws it begins one.
// The oldest run goes that a later one follows, and that leaves no start of its line behind: an
// update that a later one of its line redraws, or a whole line. The newest is kept, and so is the
// rest of a line whose start is out already (the front of the queue, up to its next update), and
// so is a run that the next climbs back over unless it climbed back itself: a redraw leaves the
// cursor where it found it, a first drawing or a line does not. A redraw that the next run does
// not climb back over stays too: it is the board's last, which nothing on screen replaces. A
// clearing (it climbs back and leaves its line open) goes only with what follows it up to the
// next redraw, which then climbs back over the board still on screen; till that comes, the
// clearing and its line stay and the lines after them may go.
void WriterLanes::DropBeyondBound(Lane& lane) {
    std::deque<Piece>& queue = lane.queue;
    const auto begins = [](const Piece& piece) { return piece.startsLine || piece.redraws; };
    auto run = std::find_if(queue.begin(), queue.end(), begins);
    while (lane.pending > maxPending_ && run != queue.end()) {
        const auto next = std::find_if(run + 1, queue.end(), begins);
        if (next == queue.end()) {
            return;
        }
        const bool clearing = run->climbsBack && run->bytes.back() != '\n';
        if ((next->startsLine && !run->startsLine) || (next->climbsBack && !run->climbsBack) ||
            (run->climbsBack && !clearing && next->climbsBack != run->climbsBack)) {
            // The end of a line whose start stays, what a redraw climbs over, a board's last
            // redraw, which no later one replaces, or one that changed the board's height: the
            // next climbs back over what it drew, not over what it climbed
            run = next;
            continue;
        }
        auto end = next;
        if (clearing) {
            // A clearing: the drawing anew after it goes with it, up to the next redraw, which
            // must climb back as far as the clearing did
            end = std::find_if(next, queue.end(),
                               [&](const Piece& p) { return begins(p) && p.climbsBack; });
            if (end == queue.end() || end->climbsBack != run->climbsBack) {
                run = next;  // no such redraw yet: it stays, and the lines after it may go
                continue;
            }
        }
        end->startsLine = run->startsLine;
        for (auto piece = run; piece != end; ++piece) {
            CountDropped(lane, piece->bytes.size());
            lane.pending -= piece->bytes.size();
        }
        run = queue.erase(run, end);
    }
}

// A line that lost its middle to a failed write would read as whole: what is left of it goes too,
// queued or still to come, up to the next piece that starts a line or redraws it.
void WriterLanes::DropRestOfLine(Lane& lane) {
    while (!lane.queue.empty() && !lane.queue.front().startsLine && !lane.queue.front().redraws) {
        DropFront(lane);
    }
    lane.cutOff = lane.cutOff || (lane.queue.empty() && lane.open);
}

void WriterLanes::GiveUp(size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lane& lane = lanes_[index];
    lane.cutOff = lane.cutOff || (lane.open && !lane.queue.empty());
    while (!lane.queue.empty()) {
        DropFront(lane);
    }
    changed_.notify_all();
}

int WriterLanes::Error(size_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lanes_[index].error;
}

int WriterLanes::FirstError(size_t to) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return to < firstErrors_.size() ? firstErrors_[to] : 0;
}

size_t WriterLanes::DroppedPieces(size_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lanes_[index].droppedPieces;
}

size_t WriterLanes::Missing(size_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Lane& lane = lanes_[index];
    return lane.droppedPieces + lane.queue.size() + (lane.writing ? 1 : 0);
}

bool WriterLanes::Stalled(size_t index, Clock::duration limit) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Lane& lane = lanes_[index];
    return Busy(lane) && Clock::now() - lane.movedAt >= limit;
}

void WriterLanes::Leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    left_ = true;
    bool writing = false;
    for (Lane& lane : lanes_) {
        while (!lane.queue.empty()) {
            DropFront(lane);
        }
        writing = writing || lane.writing;
    }
    changed_.notify_all();
    // Under the lock: no thread takes a piece meanwhile, and none is left to take.
    if (!writing && !destinations_->ThreadsEnd()) {
        destinations_->Release();
    }
}

void WriterLanes::Run(size_t index) {
    Lane& lane = lanes_[index];
    const Destinations::Moved moved = [this, &lane] {
        std::lock_guard<std::mutex> lock(mutex_);
        lane.movedAt = Clock::now();
    };
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return left_ || !lane.queue.empty(); });
        if (left_) {
            if (destinations_->ThreadsEnd()) {
                return;
            }
            for (;;) {
                changed_.wait(lock);  // for the process's end
            }
        }
        Piece piece = std::move(lane.queue.front());
        lane.queue.pop_front();
        lane.pending -= piece.bytes.size();
        lane.writing = true;
        lock.unlock();
        size_t left = 0;
        const int error = destinations_->Write(index, piece.to, piece.bytes, left, moved);
        lock.lock();
        lane.writing = false;
        if (error != 0) {
            // A terminal that hung up, a full disk, a closed descriptor: the rest is lost.
            droppedBytes_ += left;
            // A reader gone is a signal to the loop; after the loop (a look's table, the port
            // list) it is lines lost as any others are.
            if (destinations_->ReaderGone(error)) {
                brokenPipe_ = true;
                destinations_->Wake();
            }
            firstErrors_.resize(std::max(firstErrors_.size(), piece.to + 1));
            if (firstErrors_[piece.to] == 0) {
                firstErrors_[piece.to] = error;
            }
            if (endAtError_) {
                lane.error = error;
                lane.queue.clear();
                lane.pending = 0;
            } else if (piece.bytes.back() != '\n') {
                DropRestOfLine(lane);
            }
        }
        if (!Busy(lane)) {
            changed_.notify_all();
            if (IdleLocked()) {
                destinations_->Wake();
            }
        }
    }
}

}  // namespace fwburn::console

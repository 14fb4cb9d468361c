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
    if (left_ || lane.error != 0) {
        return;
    }
    if (!Busy(lane)) {
        lane.movedAt = Clock::now();
    }
    lane.queue.push_back(Piece{to, std::string(data, size)});
    lane.pending += size;
    while (lane.pending > maxPending_ && lane.queue.size() > 1) {
        DropFront(lane);
    }
    changed_.notify_all();
}

void WriterLanes::DropFront(Lane& lane) {
    droppedBytes_ += lane.queue.front().bytes.size();
    lane.pending -= lane.queue.front().bytes.size();
    lane.queue.pop_front();
    ++lane.droppedPieces;
}

void WriterLanes::GiveUp(size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (!lanes_[index].queue.empty()) {
        DropFront(lanes_[index]);
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
            if (destinations_->ReaderGone(error)) {
                brokenPipe_ = true;
                destinations_->Wake();
            } else {
                firstErrors_.resize(std::max(firstErrors_.size(), piece.to + 1));
                if (firstErrors_[piece.to] == 0) {
                    firstErrors_[piece.to] = error;
                }
            }
            if (endAtError_) {
                lane.error = error;
                lane.queue.clear();
                lane.pending = 0;
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

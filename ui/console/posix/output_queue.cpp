#include "ui/console/posix/output_queue.hpp"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace fwburn::console {

struct OutputQueue::State {
    struct Piece {
        int fd;
        std::string bytes;
    };

    // What one writer has to do.
    struct Lane {
        std::deque<Piece> queue;
        size_t pending = 0;
        bool writing = false;
    };

    State(int out, int err, size_t limit)
        : maxPending(limit),
          wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          errFd(err),
          shared(SameFile(out, err)) {
        if (wake < 0) {
            throw std::runtime_error("eventfd failed");
        }
    }
    ~State() { close(wake); }

    static bool SameFile(int a, int b) {
        struct stat sa {};
        struct stat sb {};
        return a == b || (fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
                          sa.st_ino == sb.st_ino);
    }

    int laneCount() const { return shared ? 1 : 2; }
    Lane& LaneOf(int fd) { return lanes[!shared && fd == errFd ? 1 : 0]; }

    bool IdleLocked() const {
        for (const Lane& lane : lanes) {
            if (!lane.queue.empty() || lane.writing) {
                return false;
            }
        }
        return true;
    }

    void Wake() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t done = write(wake, &one, sizeof one);
    }

    void Post(int fd, const char* data, size_t size) {
        std::lock_guard<std::mutex> lock(mutex);
        if (stop) {
            return;
        }
        Lane& lane = LaneOf(fd);
        lane.queue.push_back(Piece{fd, std::string(data, size)});
        lane.pending += size;
        while (lane.pending > maxPending && lane.queue.size() > 1) {
            dropped += lane.queue.front().bytes.size();
            lane.pending -= lane.queue.front().bytes.size();
            lane.queue.pop_front();
        }
        changed.notify_all();
    }

    void WriteAll(const Piece& piece) {
        const char* data = piece.bytes.data();
        size_t left = piece.bytes.size();
        while (left > 0) {
            const ssize_t n = write(piece.fd, data, left);
            if (n > 0) {
                data += n;
                left -= static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {  // a descriptor someone else made non-blocking
                pollfd p{piece.fd, POLLOUT, 0};
                poll(&p, 1, -1);
                continue;
            }
            if (n < 0 && errno == EPIPE) {
                brokenPipe = true;
                Wake();
            }
            // A terminal that hung up, a full disk, a closed descriptor: the rest is lost.
            dropped += left;
            return;
        }
    }

    void Run(Lane& lane) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stop || !lane.queue.empty(); });
            if (stop) {
                return;
            }
            Piece piece = std::move(lane.queue.front());
            lane.queue.pop_front();
            lane.pending -= piece.bytes.size();
            lane.writing = true;
            lock.unlock();
            WriteAll(piece);
            lock.lock();
            lane.writing = false;
            if (IdleLocked()) {
                changed.notify_all();
                Wake();
            }
        }
    }

    const size_t maxPending;
    const int wake;
    const int errFd;
    const bool shared;
    std::mutex mutex;
    std::condition_variable changed;  // a piece came, the writers went idle, or stop
    Lane lanes[2];
    bool stop = false;
    std::atomic<bool> brokenPipe{false};
    std::atomic<size_t> dropped{0};
};

namespace {

struct Sink {
    std::shared_ptr<OutputQueue::State> state;
    int fd;
};

ssize_t SinkWrite(void* cookie, const char* data, size_t size) {
    const Sink* sink = static_cast<Sink*>(cookie);
    sink->state->Post(sink->fd, data, size);
    return static_cast<ssize_t>(size);
}

int SinkClose(void* cookie) {
    delete static_cast<Sink*>(cookie);
    return 0;
}

std::FILE* OpenSink(const std::shared_ptr<OutputQueue::State>& state, int fd) {
    Sink* sink = new Sink{state, fd};
    cookie_io_functions_t io{};
    io.write = SinkWrite;
    io.close = SinkClose;
    std::FILE* f = fopencookie(sink, "w", io);
    if (f == nullptr) {
        delete sink;
        throw std::runtime_error("fopencookie failed");
    }
    // Whole lines: the screen flushes after each, and each flush is one piece.
    std::setvbuf(f, nullptr, _IOFBF, 8192);
    return f;
}

}  // namespace

OutputQueue::OutputQueue(int outFd, int errFd, size_t maxPending)
    : state_(std::make_shared<State>(outFd, errFd, maxPending)) {
    out_ = OpenSink(state_, outFd);
    err_ = OpenSink(state_, errFd);
    // Signals are the main thread's: the writers start with all of them blocked. So SIGTTOU
    // cannot stop the process for a write from the background (the write goes through), and a
    // reader gone is EPIPE, not a signal.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    for (int lane = 0; lane < state_->laneCount(); ++lane) {
        std::thread([state = state_, lane] { state->Run(state->lanes[lane]); }).detach();
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

OutputQueue::~OutputQueue() {
    std::fclose(out_);
    std::fclose(err_);
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stop = true;
    state_->changed.notify_all();
}

std::FILE* OutputQueue::out() const {
    return out_;
}

std::FILE* OutputQueue::err() const {
    return err_;
}

int OutputQueue::wakeFd() const {
    return state_->wake;
}

void OutputQueue::Take() {
    uint64_t count;
    [[maybe_unused]] const ssize_t done = read(state_->wake, &count, sizeof count);
}

bool OutputQueue::Idle() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->IdleLocked();
}

bool OutputQueue::BrokenPipe() const {
    return state_->brokenPipe;
}

size_t OutputQueue::Dropped() const {
    return state_->dropped;
}

bool OutputQueue::DrainUntil(Clock::time_point deadline) {
    std::fflush(out_);
    std::fflush(err_);
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_until(lock, deadline, [this] { return state_->IdleLocked(); });
}

}  // namespace fwburn::console

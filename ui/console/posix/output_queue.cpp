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
#include <vector>

namespace fwburn::console {

// What OutputQueue and QueuedFile share: pieces queued per lane, one thread per lane writing
// them in order, the bound on what waits, and what the writes met. The threads hold it alive:
// one left blocked in a write still has everything it needs.
class WriterThreads {
  public:
    using Clock = std::chrono::steady_clock;

    struct Piece {
        int fd;
        std::string bytes;
    };

    // What one writer has to do.
    struct Lane {
        std::deque<Piece> queue;
        size_t pending = 0;
        bool writing = false;
        Clock::time_point movedAt{};  // since then work waited and no byte went out
        int error = 0;                // the first failed write's, where it ends the lane
        size_t droppedPieces = 0;
    };

    struct Options {
        int lanes = 1;
        size_t maxPending = OutputQueue::kDefaultMaxPending;
        bool endAtError = false;  // nothing more after a failed write
        bool wakes = false;       // an eventfd tells the main loop of idle writers and EPIPE
        int ownedFd = -1;         // closed with the last owner
    };

    explicit WriterThreads(const Options& options)
        : maxPending(options.maxPending),
          endAtError(options.endAtError),
          ownedFd(options.ownedFd),
          wake(options.wakes ? eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1),
          lanes(static_cast<size_t>(options.lanes)) {
        if (options.wakes && wake < 0) {
            throw std::runtime_error("eventfd failed");
        }
    }
    ~WriterThreads() {
        if (wake >= 0) {
            close(wake);
        }
        if (ownedFd >= 0) {
            close(ownedFd);
        }
    }
    WriterThreads(const WriterThreads&) = delete;
    WriterThreads& operator=(const WriterThreads&) = delete;

    // Signals are the main thread's: the writers start with all of them blocked. So SIGTTOU
    // cannot stop the process for a write from the background (the write goes through), and a
    // reader gone or a file over its size limit is EPIPE or EFBIG, not a signal.
    static void Start(const std::shared_ptr<WriterThreads>& self) {
        sigset_t all;
        sigset_t before;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &before);
        for (Lane& lane : self->lanes) {
            std::thread([self, &lane] { self->Run(lane); }).detach();
        }
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }

    static bool Busy(const Lane& lane) { return !lane.queue.empty() || lane.writing; }

    bool IdleLocked() const {
        for (const Lane& lane : lanes) {
            if (Busy(lane)) {
                return false;
            }
        }
        return true;
    }
    bool Idle() {
        std::lock_guard<std::mutex> lock(mutex);
        return IdleLocked();
    }
    bool DrainUntil(Clock::time_point deadline) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_until(lock, deadline, [this] { return IdleLocked(); });
    }

    void Wake() {
        if (wake >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t done = write(wake, &one, sizeof one);
        }
    }

    void Post(size_t index, int fd, const char* data, size_t size) {
        std::lock_guard<std::mutex> lock(mutex);
        Lane& lane = lanes[index];
        if (stop || lane.error != 0) {
            return;
        }
        if (!Busy(lane)) {
            lane.movedAt = Clock::now();
        }
        lane.queue.push_back(Piece{fd, std::string(data, size)});
        lane.pending += size;
        while (lane.pending > maxPending && lane.queue.size() > 1) {
            DropFront(lane);
        }
        changed.notify_all();
    }

    void DropFront(Lane& lane) {
        dropped += lane.queue.front().bytes.size();
        lane.pending -= lane.queue.front().bytes.size();
        lane.queue.pop_front();
        ++lane.droppedPieces;
    }

    void GiveUp(Lane& lane) {
        std::lock_guard<std::mutex> lock(mutex);
        while (!lane.queue.empty()) {
            DropFront(lane);
        }
        changed.notify_all();
    }

    // 0 when all of the piece went out, else the errno of the write that failed.
    int WriteAll(Lane& lane, const Piece& piece) {
        const char* data = piece.bytes.data();
        size_t left = piece.bytes.size();
        while (left > 0) {
            const ssize_t n = write(piece.fd, data, left);
            if (n > 0) {
                data += n;
                left -= static_cast<size_t>(n);
                std::lock_guard<std::mutex> lock(mutex);
                lane.movedAt = Clock::now();
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
            // A terminal that hung up, a full disk, a closed descriptor: the rest is lost.
            const int error = n < 0 ? errno : EIO;
            dropped += left;
            return error;
        }
        return 0;
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
            const int error = WriteAll(lane, piece);
            lock.lock();
            lane.writing = false;
            if (error == EPIPE) {
                brokenPipe = true;
                Wake();
            }
            if (error != 0 && endAtError) {
                lane.error = error;
                lane.queue.clear();
                lane.pending = 0;
            }
            if (!Busy(lane)) {
                changed.notify_all();
                if (IdleLocked()) {
                    Wake();
                }
            }
        }
    }

    void Stop() {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
        changed.notify_all();
    }

    const size_t maxPending;
    const bool endAtError;
    const int ownedFd;
    const int wake;
    std::mutex mutex;
    std::condition_variable changed;  // a piece came, a writer went idle, or stop
    std::vector<Lane> lanes;          // never resized: each thread holds its own
    bool stop = false;
    std::atomic<bool> brokenPipe{false};
    std::atomic<size_t> dropped{0};  // bytes
};

namespace {

struct Sink {
    std::shared_ptr<WriterThreads> writers;
    size_t lane;
    int fd;
};

ssize_t SinkWrite(void* cookie, const char* data, size_t size) {
    const Sink* sink = static_cast<Sink*>(cookie);
    sink->writers->Post(sink->lane, sink->fd, data, size);
    return static_cast<ssize_t>(size);
}

int SinkClose(void* cookie) {
    delete static_cast<Sink*>(cookie);
    return 0;
}

std::FILE* OpenSink(const std::shared_ptr<WriterThreads>& writers, size_t lane, int fd) {
    Sink* sink = new Sink{writers, lane, fd};
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

bool SameFile(int a, int b) {
    struct stat sa {};
    struct stat sb {};
    return a == b || (fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
                      sa.st_ino == sb.st_ino);
}

}  // namespace

OutputQueue::OutputQueue(int outFd, int errFd, size_t maxPending) {
    const bool shared = SameFile(outFd, errFd);
    WriterThreads::Options options;
    options.lanes = shared ? 1 : 2;
    options.maxPending = maxPending;
    options.wakes = true;
    writers_ = std::make_shared<WriterThreads>(options);
    out_ = OpenSink(writers_, 0, outFd);
    err_ = OpenSink(writers_, shared ? 0 : 1, errFd);
    WriterThreads::Start(writers_);
}

OutputQueue::~OutputQueue() {
    std::fclose(out_);
    std::fclose(err_);
    writers_->Stop();
}

std::FILE* OutputQueue::out() const {
    return out_;
}

std::FILE* OutputQueue::err() const {
    return err_;
}

int OutputQueue::wakeFd() const {
    return writers_->wake;
}

void OutputQueue::Take() {
    uint64_t count;
    [[maybe_unused]] const ssize_t done = read(writers_->wake, &count, sizeof count);
}

bool OutputQueue::Idle() const {
    return writers_->Idle();
}

bool OutputQueue::BrokenPipe() const {
    return writers_->brokenPipe;
}

size_t OutputQueue::Dropped() const {
    return writers_->dropped;
}

bool OutputQueue::DrainUntil(Clock::time_point deadline) {
    std::fflush(out_);
    std::fflush(err_);
    return writers_->DrainUntil(deadline);
}

QueuedFile::QueuedFile(int fd, size_t maxPending) {
    WriterThreads::Options options;
    options.maxPending = maxPending;
    options.endAtError = true;
    options.ownedFd = fd;
    writers_ = std::make_shared<WriterThreads>(options);
    WriterThreads::Start(writers_);
}

QueuedFile::~QueuedFile() {
    writers_->Stop();
}

void QueuedFile::Post(const std::string& piece) {
    writers_->Post(0, writers_->ownedFd, piece.data(), piece.size());
}

int QueuedFile::Error() const {
    std::lock_guard<std::mutex> lock(writers_->mutex);
    return writers_->lanes[0].error;
}

size_t QueuedFile::Dropped() const {
    std::lock_guard<std::mutex> lock(writers_->mutex);
    return writers_->lanes[0].droppedPieces;
}

size_t QueuedFile::Missing() const {
    std::lock_guard<std::mutex> lock(writers_->mutex);
    const WriterThreads::Lane& lane = writers_->lanes[0];
    return lane.droppedPieces + lane.queue.size() + (lane.writing ? 1 : 0);
}

bool QueuedFile::Stalled(Clock::duration limit) const {
    std::lock_guard<std::mutex> lock(writers_->mutex);
    const WriterThreads::Lane& lane = writers_->lanes[0];
    return WriterThreads::Busy(lane) && Clock::now() - lane.movedAt >= limit;
}

void QueuedFile::GiveUp() {
    writers_->GiveUp(writers_->lanes[0]);
}

bool QueuedFile::DrainUntil(Clock::time_point deadline) {
    return writers_->DrainUntil(deadline);
}

}  // namespace fwburn::console

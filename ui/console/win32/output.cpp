#include "ui/console/win32/output.hpp"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "ui/console/win32/text.hpp"

namespace fwburn::console {

namespace {

// How often an idle pump looks into its pipe. A pipe cannot be waited on without taking its bytes,
// and a pump must never hold bytes that Idle() would not see.
constexpr DWORD kPumpPollMs = 5;
constexpr DWORD kPipeSize = 64 * 1024;

bool IsConsole(HANDLE h) {
    DWORD mode = 0;
    return GetConsoleMode(h, &mode) != 0;
}

// Two handles of one console, or of one file on disk.
bool SameDestination(HANDLE a, HANDLE b) {
    if (a == b || (IsConsole(a) && IsConsole(b))) {
        return true;
    }
    BY_HANDLE_FILE_INFORMATION ia{};
    BY_HANDLE_FILE_INFORMATION ib{};
    return GetFileType(a) == FILE_TYPE_DISK && GetFileType(b) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(a, &ia) && GetFileInformationByHandle(b, &ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace

// Pieces queued per lane, one thread per lane writing them in order, the bound on what waits and
// what the writes met. The threads hold it alive: one left blocked in a write still has all it
// needs.
class Lanes {
  public:
    using Clock = std::chrono::steady_clock;

    struct Piece {
        HANDLE target;
        std::string bytes;
    };
    struct Lane {
        std::deque<Piece> queue;
        size_t pending = 0;
        bool writing = false;
        Clock::time_point movedAt{};
        DWORD error = 0;
        size_t droppedPieces = 0;
        std::string carry;  // the start of a UTF-8 sequence, for a console
    };

    Lanes(int count, size_t maxPending, bool endAtError)
        : maxPending_(maxPending),
          endAtError_(endAtError),
          wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          lanes(static_cast<size_t>(count)) {}
    ~Lanes() {
        if (wake != nullptr) {
            CloseHandle(wake);
        }
    }
    Lanes(const Lanes&) = delete;
    Lanes& operator=(const Lanes&) = delete;

    static void Start(const std::shared_ptr<Lanes>& self) {
        for (Lane& lane : self->lanes) {
            std::thread([self, &lane] { self->Run(lane); }).detach();
        }
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

    void Post(size_t index, HANDLE target, const char* data, size_t size) {
        std::lock_guard<std::mutex> lock(mutex);
        Lane& lane = lanes[index];
        if (lane.error != 0) {
            return;
        }
        if (!Busy(lane)) {
            lane.movedAt = Clock::now();
        }
        lane.queue.push_back(Piece{target, std::string(data, size)});
        lane.pending += size;
        while (lane.pending > maxPending_ && lane.queue.size() > 1) {
            DropFront(lane);
        }
        changed.notify_all();
    }
    void DropFront(Lane& lane) {
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

    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<bool> brokenPipe{false};
    const size_t maxPending_;
    const bool endAtError_;
    const HANDLE wake;
    std::vector<Lane> lanes;  // never resized: each thread holds its own

  private:
    void Moved(Lane& lane) {
        std::lock_guard<std::mutex> lock(mutex);
        lane.movedAt = Clock::now();
    }

    DWORD WriteBytes(Lane& lane, HANDLE target, const char* data, size_t size) {
        while (size > 0) {
            DWORD done = 0;
            const DWORD chunk = size > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size);
            if (!WriteFile(target, data, chunk, &done, nullptr)) {
                return GetLastError();
            }
            if (done == 0) {
                return ERROR_WRITE_FAULT;
            }
            data += done;
            size -= done;
            Moved(lane);
        }
        return 0;
    }

    // A console takes UTF-16: the program's UTF-8 is converted, a sequence cut between two pieces
    // kept for the next.
    DWORD WriteConsoleText(Lane& lane, HANDLE target, const std::string& bytes) {
        std::string text = lane.carry + bytes;
        const size_t whole = WholeUtf8(text);
        lane.carry = text.substr(whole);
        text.resize(whole);
        const int n =
            MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
        size_t at = 0;
        while (at < wide.size()) {
            DWORD done = 0;
            if (!WriteConsoleW(target, wide.data() + at, static_cast<DWORD>(wide.size() - at),
                               &done, nullptr)) {
                // Not a console after all (or no longer one): the rest as UTF-8 bytes.
                const std::wstring rest = wide.substr(at);
                const int length =
                    WideCharToMultiByte(CP_UTF8, 0, rest.data(), static_cast<int>(rest.size()),
                                        nullptr, 0, nullptr, nullptr);
                std::string utf8(static_cast<size_t>(length), '\0');
                WideCharToMultiByte(CP_UTF8, 0, rest.data(), static_cast<int>(rest.size()),
                                    utf8.data(), length, nullptr, nullptr);
                return WriteBytes(lane, target, utf8.data(), utf8.size());
            }
            at += done;
            Moved(lane);
        }
        return 0;
    }

    void Run(Lane& lane) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return !lane.queue.empty(); });
            Piece piece = std::move(lane.queue.front());
            lane.queue.pop_front();
            lane.pending -= piece.bytes.size();
            lane.writing = true;
            lock.unlock();
            const DWORD error =
                IsConsole(piece.target)
                    ? WriteConsoleText(lane, piece.target, piece.bytes)
                    : WriteBytes(lane, piece.target, piece.bytes.data(), piece.bytes.size());
            lock.lock();
            lane.writing = false;
            if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) {
                brokenPipe = true;
                SetEvent(wake);
            }
            if (error != 0 && endAtError_) {
                lane.error = error;
                lane.queue.clear();
                lane.pending = 0;
            }
            if (!Busy(lane)) {
                changed.notify_all();
                if (IdleLocked() && wake != nullptr) {
                    SetEvent(wake);
                }
            }
        }
    }
};

// What one pipe's pump shares with the stream's owner: the read end, and whether it holds bytes
// that it has taken out of the pipe but not yet queued.
struct Pump {
    HANDLE read = nullptr;
    HANDLE target = nullptr;
    size_t lane = 0;
    std::atomic<bool> holding{false};

    ~Pump() {
        if (read != nullptr) {
            CloseHandle(read);
        }
    }
    bool Empty() const {
        DWORD waiting = 0;
        const bool peeked = PeekNamedPipe(read, nullptr, 0, nullptr, &waiting, nullptr) != 0;
        return (!peeked || waiting == 0) && !holding;
    }

    static void Run(const std::shared_ptr<Pump>& self, const std::shared_ptr<Lanes>& lanes) {
        std::thread([self, lanes] {
            std::vector<char> buffer(kPipeSize);
            for (;;) {
                DWORD waiting = 0;
                if (!PeekNamedPipe(self->read, nullptr, 0, nullptr, &waiting, nullptr)) {
                    return;  // the stream was closed and everything in it taken
                }
                if (waiting == 0) {
                    Sleep(kPumpPollMs);
                    continue;
                }
                self->holding = true;  // before the bytes leave the pipe
                DWORD got = 0;
                const DWORD want = waiting < kPipeSize ? waiting : kPipeSize;
                if (ReadFile(self->read, buffer.data(), want, &got, nullptr) && got > 0) {
                    lanes->Post(self->lane, self->target, buffer.data(), got);
                }
                self->holding = false;
            }
        }).detach();
    }
};

namespace {

// A stream whose bytes go into a new pipe for `pump`; null when the pipe cannot be made.
std::FILE* OpenStream(Pump& pump) {
    HANDLE write = nullptr;
    if (!CreatePipe(&pump.read, &write, nullptr, kPipeSize)) {
        pump.read = nullptr;
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(write), _O_WRONLY | _O_BINARY);
    std::FILE* f = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (f == nullptr) {
        fd >= 0 ? _close(fd) : CloseHandle(write);
        return nullptr;
    }
    // Whole lines: the screens flush after each.
    std::setvbuf(f, nullptr, _IOFBF, 8192);
    return f;
}

}  // namespace

ConsoleOutput::ConsoleOutput(HANDLE out, HANDLE err, size_t maxPending) {
    const bool shared = SameDestination(out, err);
    lanes_ = std::make_shared<Lanes>(shared ? 1 : 2, maxPending, false);
    pumps_[0] = std::make_shared<Pump>();
    pumps_[0]->target = out;
    out_ = OpenStream(*pumps_[0]);
    if (shared && out_ != nullptr) {
        // One pipe for both keeps their order; stderr's bytes still go to stderr's handle only
        // when it is another handle of the same destination, which it is.
        const int fd = _dup(_fileno(out_));
        err_ = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
        if (err_ != nullptr) {
            std::setvbuf(err_, nullptr, _IOFBF, 8192);
        }
    } else {
        pumps_[1] = std::make_shared<Pump>();
        pumps_[1]->target = err;
        pumps_[1]->lane = 1;
        err_ = OpenStream(*pumps_[1]);
    }
    if (out_ == nullptr || err_ == nullptr) {
        return;
    }
    Lanes::Start(lanes_);
    for (const auto& pump : pumps_) {
        if (pump != nullptr) {
            Pump::Run(pump, lanes_);
        }
    }
}

// The streams stay open and the threads wait on: the process ends soon after, and a thread that
// ends while the process ends is a race that Wine settles by killing the process (137 to its
// parent). What was queued and not yet written is dropped with the process.
ConsoleOutput::~ConsoleOutput() {
    for (std::FILE* f : {out_, err_}) {
        if (f != nullptr) {
            std::fflush(f);
        }
    }
}

HANDLE ConsoleOutput::wakeEvent() const {
    return lanes_->wake;
}

bool ConsoleOutput::Idle() const {
    for (const auto& pump : pumps_) {
        if (pump != nullptr && !pump->Empty()) {
            return false;
        }
    }
    return lanes_->Idle();
}

bool ConsoleOutput::BrokenPipe() const {
    return lanes_->brokenPipe;
}

bool ConsoleOutput::DrainUntil(Clock::time_point deadline) {
    if (out_ != nullptr) {
        std::fflush(out_);
    }
    if (err_ != nullptr) {
        std::fflush(err_);
    }
    while (!Idle()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        lanes_->DrainUntil(std::min(deadline, Clock::now() + std::chrono::milliseconds(10)));
    }
    return true;
}

QueuedHandle::QueuedHandle(HANDLE file, size_t maxPending)
    : lanes_(std::make_shared<Lanes>(1, maxPending, true)), file_(file) {
    Lanes::Start(lanes_);
}

// The writer waits on for the process's end, as ConsoleOutput's do. A writer still in a write of
// the file keeps it open; it is closed with the process then.
QueuedHandle::~QueuedHandle() {
    lanes_->GiveUp(lanes_->lanes[0]);
    std::lock_guard<std::mutex> lock(lanes_->mutex);
    if (!lanes_->lanes[0].writing) {
        lanes_->lanes[0].error = ERROR_INVALID_HANDLE;  // nothing more is taken for it
        CloseHandle(file_);
    }
}

void QueuedHandle::Post(const std::string& piece) {
    lanes_->Post(0, file_, piece.data(), piece.size());
}

DWORD QueuedHandle::Error() const {
    std::lock_guard<std::mutex> lock(lanes_->mutex);
    return lanes_->lanes[0].error;
}

size_t QueuedHandle::Dropped() const {
    std::lock_guard<std::mutex> lock(lanes_->mutex);
    return lanes_->lanes[0].droppedPieces;
}

bool QueuedHandle::Stalled(Clock::duration limit) const {
    std::lock_guard<std::mutex> lock(lanes_->mutex);
    const Lanes::Lane& lane = lanes_->lanes[0];
    return Lanes::Busy(lane) && Clock::now() - lane.movedAt >= limit;
}

size_t QueuedHandle::Missing() const {
    std::lock_guard<std::mutex> lock(lanes_->mutex);
    const Lanes::Lane& lane = lanes_->lanes[0];
    return lane.droppedPieces + lane.queue.size() + (lane.writing ? 1 : 0);
}

void QueuedHandle::GiveUp() {
    lanes_->GiveUp(lanes_->lanes[0]);
}

bool QueuedHandle::DrainUntil(Clock::time_point deadline) {
    return lanes_->DrainUntil(deadline);
}

}  // namespace fwburn::console

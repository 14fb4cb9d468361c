#include "ui/console/win32/output.hpp"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "ui/console/session/queued_trace.hpp"
#include "ui/console/win32/same_handle.hpp"
#include "ui/console/win32/text.hpp"
#include "ui/console/win32/win32_link.hpp"

namespace fwburn::console {

namespace {

// How often an idle pump looks into its pipe. A pipe cannot be waited on without taking its bytes,
// and a pump must never hold bytes that Idle() would not see.
constexpr DWORD kPumpPollMs = 5;
constexpr DWORD kPipeSize = 64 * 1024;

}  // namespace

// Handles written with WriteFile, or WriteConsoleW for a console; the threads never end (see
// ConsoleOutput).
class HandleWrites final : public Destinations {
  public:
    // `handles` by destination; `owned` (the trace's file) is closed by Release().
    HandleWrites(std::vector<HANDLE> handles, bool owned)
        : handles_(std::move(handles)),
          owned_(owned),
          wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~HandleWrites() override {
        if (wake_ != nullptr) {
            CloseHandle(wake_);
        }
    }
    HandleWrites(const HandleWrites&) = delete;
    HandleWrites& operator=(const HandleWrites&) = delete;

    HANDLE wakeEvent() const { return wake_; }

    int Write(size_t lane, size_t to, const std::string& bytes, size_t& left,
              const Moved& moved) override {
        const HANDLE target = handles_[to];
        const DWORD error = IsConsole(target)
                                ? WriteConsoleText(carry_[lane], target, bytes, left, moved)
                                : WriteBytes(target, bytes.data(), bytes.size(), left, moved);
        return static_cast<int>(error);
    }

    bool ReaderGone(int code) const override {
        const auto error = static_cast<DWORD>(code);
        // A pipe of the system whose reader left is ERROR_NO_DATA; a pipe of the host beneath
        // (Wine's stdout on a Linux pipe) is ERROR_PIPE_NOT_CONNECTED.
        return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE ||
               error == ERROR_PIPE_NOT_CONNECTED;
    }
    void Wake() override {
        if (wake_ != nullptr) {
            SetEvent(wake_);
        }
    }
    bool ThreadsEnd() const override { return false; }
    void Release() override {
        if (owned_) {
            CloseHandle(handles_[0]);
        }
    }
    int Errno(int code) const override { return ErrnoOf(static_cast<DWORD>(code)); }
    std::string Reason(int code) const override {
        return code != 0 ? ErrorText(static_cast<DWORD>(code)) : "";
    }

  private:
    static DWORD WriteBytes(HANDLE target, const char* data, size_t size, size_t& left,
                            const Moved& moved) {
        left = size;
        while (left > 0) {
            DWORD done = 0;
            const DWORD chunk = left > (1u << 20) ? (1u << 20) : static_cast<DWORD>(left);
            if (!WriteFile(target, data, chunk, &done, nullptr)) {
                return GetLastError();
            }
            if (done == 0) {
                if (GetFileType(target) != FILE_TYPE_PIPE) {
                    return ERROR_WRITE_FAULT;
                }
                // A pipe set not to wait (PIPE_NOWAIT, by the program that made it) takes nothing
                // while it is full: the bytes wait for its reader, as on a pipe that waits.
                Sleep(kPumpPollMs);
                continue;
            }
            data += done;
            left -= done;
            moved();
        }
        return 0;
    }

    // A console takes UTF-16: the program's UTF-8 is converted, a sequence cut between two pieces
    // kept for the next.
    static DWORD WriteConsoleText(std::string& carry, HANDLE target, const std::string& bytes,
                                  size_t& left, const Moved& moved) {
        std::string text = carry + bytes;
        const size_t whole = WholeUtf8(text);
        carry = text.substr(whole);
        text.resize(whole);
        const std::wstring wide = Wide(text);
        size_t at = 0;
        while (at < wide.size()) {
            DWORD done = 0;
            if (!WriteConsoleW(target, wide.data() + at, static_cast<DWORD>(wide.size() - at),
                               &done, nullptr)) {
                // Not a console after all (or no longer one): the rest as UTF-8 bytes.
                const std::string rest = Utf8(wide.substr(at));
                return WriteBytes(target, rest.data(), rest.size(), left, moved);
            }
            at += done;
            moved();
        }
        left = 0;
        return 0;
    }

    const std::vector<HANDLE> handles_;
    const bool owned_;
    std::string carry_[2];  // by lane: the start of a UTF-8 sequence, for a console
    const HANDLE wake_;
};

// What one pipe's pump shares with the stream's owner: the read end, and whether it holds bytes
// that it has taken out of the pipe but not yet queued.
struct Pump {
    HANDLE read = nullptr;
    size_t lane = 0;
    size_t to = 0;  // the destination: 0 stdout, 1 stderr
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

    // A read takes what the pipe holds, which may end inside a line that is still being
    // written: the pump queues whole lines, and the start of a line once the pipe has stayed
    // empty for a poll (a question waiting for its answer, a line written in two goes) or once
    // it is longer than a pipe. The lanes keep such a start and the rest of its line together.
    static void Run(const std::shared_ptr<Pump>& self, const std::shared_ptr<WriterLanes>& lanes) {
        std::thread([self, lanes] {
            std::vector<char> buffer(kPipeSize);
            std::string start;   // of a line, not queued yet
            bool quiet = false;  // the pipe was empty at the last look too
            const auto post = [&](size_t size) {
                if (size == 0) {
                    return;
                }
                lanes->Post(self->lane, self->to, start.data(), size);
                start.erase(0, size);
            };
            for (;;) {
                DWORD waiting = 0;
                if (!PeekNamedPipe(self->read, nullptr, 0, nullptr, &waiting, nullptr)) {
                    post(start.size());
                    self->holding = false;
                    return;  // the stream was closed and everything in it taken
                }
                if (waiting == 0) {
                    if (quiet && !start.empty()) {
                        post(start.size());
                        self->holding = false;
                    }
                    quiet = true;
                    Sleep(kPumpPollMs);
                    continue;
                }
                quiet = false;
                self->holding = true;  // before the bytes leave the pipe
                DWORD got = 0;
                const DWORD want = waiting < kPipeSize ? waiting : kPipeSize;
                if (ReadFile(self->read, buffer.data(), want, &got, nullptr) && got > 0) {
                    start.append(buffer.data(), got);
                    const size_t end = start.rfind('\n');
                    post(start.size() >= kPipeSize  ? start.size()
                         : end == std::string::npos ? 0
                                                    : end + 1);
                }
                self->holding = !start.empty();
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
    writes_ = std::make_shared<HandleWrites>(std::vector<HANDLE>{out, err}, false);
    WriterLanes::Options options;
    options.lanes = shared ? 1 : 2;
    options.maxPending = maxPending;
    lanes_ = std::make_shared<WriterLanes>(writes_, options);
    pumps_[0] = std::make_shared<Pump>();
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
        pumps_[1]->lane = 1;
        pumps_[1]->to = 1;
        err_ = OpenStream(*pumps_[1]);
    }
    if (out_ == nullptr || err_ == nullptr) {
        return;
    }
    WriterLanes::Start(lanes_);
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
    return writes_->wakeEvent();
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
    return lanes_->BrokenPipe();
}

DWORD ConsoleOutput::WriteError(size_t to) const {
    return static_cast<DWORD>(lanes_->FirstError(to));
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

std::shared_ptr<Destinations> OwnedHandle(HANDLE file) {
    return std::make_shared<HandleWrites>(std::vector<HANDLE>{file}, true);
}

namespace {

// The file stdout or stderr already goes to (`--trace log` beside `>log`), as a handle of theirs:
// opened anew it would be emptied, and with a position of its own the trace and the lines would
// overwrite each other. Null when the path names no such file.
HANDLE StreamOfSameFile(const std::wstring& path) {
    const HANDLE named = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    HANDLE same = nullptr;
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE stream = GetStdHandle(which);
        if (same == nullptr && stream != nullptr && stream != INVALID_HANDLE_VALUE &&
            SameFile(named, stream) &&
            !DuplicateHandle(GetCurrentProcess(), stream, GetCurrentProcess(), &same, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            same = nullptr;
        }
    }
    CloseHandle(named);
    return same;
}

}  // namespace

std::shared_ptr<Destinations> OpenTraceFile(const std::string& path, int& error) {
    // Of the devices only the null device and the console take a trace; any other (a comm port
    // however named, its aliases, a volume) is refused before it is opened, which would raise a
    // port's modem lines.
    const std::string device = DeviceNameOf(path);
    if (!device.empty() && device != "NUL" && device != "CON" && device != "CONOUT$") {
        error = kTraceOnALine;
        return nullptr;
    }
    if (const HANDLE same = StreamOfSameFile(Wide(path)); same != nullptr) {
        error = 0;
        return OwnedHandle(same);
    }
    const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = ErrnoOf(GetLastError());
        return nullptr;
    }
    // A comm port under another name (a device alias of its own).
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetFileType(h) == FILE_TYPE_CHAR && GetCommState(h, &dcb)) {
        CloseHandle(h);
        error = kTraceOnALine;
        return nullptr;
    }
    error = 0;
    return OwnedHandle(h);
}

}  // namespace fwburn::console

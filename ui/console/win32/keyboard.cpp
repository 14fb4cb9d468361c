#include "ui/console/win32/keyboard.hpp"

#include <cerrno>
#include <condition_variable>
#include <thread>

namespace fwburn::console {

namespace {

// How often a reader looks again into a pipe set not to wait.
constexpr DWORD kEmptyPipePollMs = 20;

}  // namespace

struct Keyboard::Shared {
    struct Byte {
        long n;
        char c;
        int error;
    };
    // Bytes read ahead at most: what comes beyond stays in the pipe while nobody answers
    // (`yes | fwburn-cpu-cli` during a whole update), as it does on Linux.
    static constexpr size_t kReadAhead = 64;

    std::mutex mutex;
    std::condition_variable room;
    std::deque<Byte> bytes;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    ~Shared() {
        if (ready != nullptr) {
            CloseHandle(ready);
        }
    }
    void Put(const Byte& b) {
        std::unique_lock<std::mutex> lock(mutex);
        room.wait(lock, [this] { return bytes.size() < kReadAhead; });
        bytes.push_back(b);
        SetEvent(ready);
    }
};

Keyboard::Keyboard() : shared_(std::make_shared<Shared>()) {}

Keyboard::~Keyboard() = default;  // a reader blocked in its read holds what it needs

HANDLE Keyboard::ready() const {
    return shared_->ready;
}

void Keyboard::Start() {
    if (started_) {
        return;
    }
    started_ = true;
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::thread([shared = shared_, in] {
        for (;;) {
            char c = 0;
            DWORD got = 0;
            SetLastError(ERROR_SUCCESS);
            if (ReadFile(in, &c, 1, &got, nullptr)) {
                // Ctrl+C in a console read ends it with no byte and this error, which is not the
                // end of input: taken as one, it would cancel the question before the event came.
                if (got == 0 && GetLastError() == ERROR_OPERATION_ABORTED) {
                    continue;
                }
                shared->Put({static_cast<long>(got), c, 0});
                if (got == 0) {
                    break;  // the end of input: nothing more comes
                }
                continue;
            }
            const DWORD error = GetLastError();
            if (error == ERROR_OPERATION_ABORTED) {
                continue;  // Ctrl+C in a console read: the event is the main thread's
            }
            if (error == ERROR_NO_DATA) {
                // A pipe set not to wait (PIPE_NOWAIT, by the program that made it) that is empty
                // for now: its writer is still there, and the answer may come yet.
                Sleep(kEmptyPipePollMs);
                continue;
            }
            // A pipe whose writer has gone is the end of input; anything else ends it too.
            shared->Put({error == ERROR_BROKEN_PIPE ? 0L : -1L, 0, EIO});
            break;
        }
        // Waits for the process's end rather than ending first (see ConsoleOutput).
        Sleep(INFINITE);
    }).detach();
}

bool Keyboard::Take(long& n, char& c, int& error) {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->bytes.empty()) {
        return false;
    }
    const Shared::Byte b = shared_->bytes.front();
    shared_->bytes.pop_front();
    shared_->room.notify_one();
    if (shared_->bytes.empty()) {
        ResetEvent(shared_->ready);
    }
    n = b.n;
    c = b.c;
    error = b.error;
    return true;
}

}  // namespace fwburn::console

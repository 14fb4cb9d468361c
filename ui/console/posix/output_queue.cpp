#include "ui/console/posix/output_queue.hpp"

#include "ui/console/session/queued_trace.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace fwburn::console {

// Descriptors written with write(2), their threads ended when their owner leaves.
class DescriptorWrites final : public Destinations {
  public:
    // `fds` by destination; `wakes`: an eventfd tells the main loop of idle writers and EPIPE;
    // `ownedFd` is closed with the last owner.
    DescriptorWrites(std::vector<int> fds, bool wakes, int ownedFd)
        : fds_(std::move(fds)),
          ownedFd_(ownedFd),
          wake_(wakes ? eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1) {
        if (wakes && wake_ < 0) {
            throw std::runtime_error("eventfd failed");
        }
    }
    ~DescriptorWrites() override {
        if (wake_ >= 0) {
            close(wake_);
        }
        if (ownedFd_ >= 0) {
            close(ownedFd_);
        }
    }
    DescriptorWrites(const DescriptorWrites&) = delete;
    DescriptorWrites& operator=(const DescriptorWrites&) = delete;

    int wakeFd() const { return wake_; }

    int Write(size_t, size_t to, const std::string& bytes, size_t& left,
              const Moved& moved) override {
        const int fd = fds_[to];
        const char* data = bytes.data();
        left = bytes.size();
        while (left > 0) {
            const ssize_t n = write(fd, data, left);
            if (n > 0) {
                data += n;
                left -= static_cast<size_t>(n);
                moved();
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {  // a descriptor someone else made non-blocking
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, -1);
                continue;
            }
            return n < 0 ? errno : EIO;
        }
        return 0;
    }

    bool ReaderGone(int code) const override { return code == EPIPE; }

    void Wake() override {
        if (wake_ >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t done = write(wake_, &one, sizeof one);
        }
    }

    // Signals are the main thread's: the writers start with all of them blocked. So SIGTTOU
    // cannot stop the process for a write from the background (the write goes through), and a
    // reader gone or a file over its size limit is EPIPE or EFBIG, not a signal.
    void StartThread(std::function<void()> run) override {
        sigset_t all;
        sigset_t before;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &before);
        try {
            Destinations::StartThread(std::move(run));
        } catch (...) {  // no thread to be had: the caller's mask stays its own all the same
            pthread_sigmask(SIG_SETMASK, &before, nullptr);
            throw;
        }
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }

    bool ThreadsEnd() const override { return true; }
    int Errno(int code) const override { return code; }
    std::string Reason(int code) const override { return std::strerror(code); }

  private:
    const std::vector<int> fds_;
    const int ownedFd_;
    const int wake_;
};

namespace {

struct Sink {
    std::shared_ptr<WriterLanes> lanes;
    size_t lane;
    size_t to;
};

ssize_t SinkWrite(void* cookie, const char* data, size_t size) {
    const Sink* sink = static_cast<Sink*>(cookie);
    sink->lanes->Post(sink->lane, sink->to, data, size);
    return static_cast<ssize_t>(size);
}

int SinkClose(void* cookie) {
    delete static_cast<Sink*>(cookie);
    return 0;
}

std::FILE* OpenSink(const std::shared_ptr<WriterLanes>& lanes, size_t lane, size_t to) {
    Sink* sink = new Sink{lanes, lane, to};
    cookie_io_functions_t io{};
    io.write = SinkWrite;
    io.close = SinkClose;
    std::FILE* f = fopencookie(sink, "w", io);
    if (f == nullptr) {
        delete sink;
        throw std::runtime_error("fopencookie failed");
    }
    // Whole lines: the screen flushes after each, and each flush is one piece unless it overflows
    // the buffer, which hands the lanes the part of a line that fits.
    std::setvbuf(f, nullptr, _IOFBF, 8192);
    return f;
}

bool SameFile(int a, int b) {
    struct stat sa {};
    struct stat sb {};
    return a == b || (fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
                      sa.st_ino == sb.st_ino);
}

// What the symbolic link at `path` is to the trace, as the kernel's fs.protected_symlinks would
// have it: in a directory writable by all with the sticky bit (/tmp), only a link of this user's
// or of the directory's owner is followed. Another user's link there could make the trace
// overwrite any file of this user's, and a machine may have the protection off. A link followed
// cannot be swapped for another afterwards: the sticky bit keeps its owner's link in place.
enum class LinkVerdict { kFollow, kPlanted, kGone };

// Whether the directory `path` is named in is writable by all with the sticky bit; its status
// in `parent`. False when it cannot be looked at: the open that follows says why not.
bool InSharedDirectory(const std::string& path, struct stat& parent) {
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    return stat(dir.c_str(), &parent) == 0 &&
           (parent.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
}

LinkVerdict LookAtLink(const std::string& path) {
    struct stat link {};
    struct stat parent {};
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
        return LinkVerdict::kGone;  // taken away by its owner: what came instead is looked at
    }
    const bool shared = InSharedDirectory(path, parent);
    return !shared || link.st_uid == geteuid() || link.st_uid == parent.st_uid
               ? LinkVerdict::kFollow
               : LinkVerdict::kPlanted;
}

}  // namespace

OutputQueue::OutputQueue(int outFd, int errFd, size_t maxPending)
    : writes_(std::make_shared<DescriptorWrites>(std::vector<int>{outFd, errFd}, true, -1)) {
    const bool shared = SameFile(outFd, errFd);
    WriterLanes::Options options;
    options.lanes = shared ? 1 : 2;
    options.maxPending = maxPending;
    lanes_ = std::make_shared<WriterLanes>(writes_, options);
    out_ = OpenSink(lanes_, 0, 0);
    err_ = OpenSink(lanes_, shared ? 0 : 1, 1);
    try {
        WriterLanes::Start(lanes_);
    } catch (...) {  // no thread to be had: a lane already started ends, nothing stays open
        std::fclose(out_);
        std::fclose(err_);
        lanes_->Leave();
        throw;
    }
}

OutputQueue::~OutputQueue() {
    std::fclose(out_);
    std::fclose(err_);
    lanes_->Leave();
}

int OutputQueue::wakeFd() const {
    return writes_->wakeFd();
}

void OutputQueue::Take() {
    uint64_t count;
    [[maybe_unused]] const ssize_t done = read(writes_->wakeFd(), &count, sizeof count);
}

bool OutputQueue::DrainUntil(Clock::time_point deadline) {
    std::fflush(out_);
    std::fflush(err_);
    return lanes_->DrainUntil(deadline);
}

std::shared_ptr<Destinations> OwnedDescriptor(int fd) {
    return std::make_shared<DescriptorWrites>(std::vector<int>{fd}, false, fd);
}

namespace {

// A terminal line is the user's own terminal (that of a standard stream, /dev/tty), a
// pseudo-terminal (a window, or a controller's link that only the run's --port names), or a
// line to a device: a serial port, a controller's USB port, a console. The trace would go down
// the last kind, to another controller or to this one once it comes back under that name, and
// even opening it can raise its modem lines: sysfs tells one from the others before anything is
// opened (pseudo-terminals have no entry there).
bool IsAForeignLine(const struct stat& named) {
    if (!S_ISCHR(named.st_mode)) {
        return false;
    }
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        struct stat st {};
        if (fstat(stream, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == named.st_rdev) {
            return false;
        }
    }
    if (named.st_rdev == makedev(5, 0)) {
        return false;  // /dev/tty, the controlling terminal
    }
    const std::string node = "/sys/dev/char/" + std::to_string(major(named.st_rdev)) + ":" +
                             std::to_string(minor(named.st_rdev)) + "/subsystem";
    char target[PATH_MAX];
    const ssize_t length = readlink(node.c_str(), target, sizeof target - 1);
    const std::string subsystem(target, length > 0 ? size_t(length) : 0);
    return subsystem.size() >= 4 && subsystem.compare(subsystem.size() - 4, 4, "/tty") == 0;
}

}  // namespace

// Opened without waiting: a FIFO that nobody reads would hold a blocking open(2) for ever, with
// the signals that could end it still blocked for the main loop. A reader being started beside
// the program (`cat fifo & fwburn ... --trace fifo`) gets a moment to come.
std::shared_ptr<Destinations> OpenTraceFile(const std::string& path, int& error) {
    // The file stdout or stderr was sent to (`--trace /dev/stderr` beside `2>log`) is written
    // through their own descriptor: opened anew it would be emptied, and its offset of its own
    // would have the trace and the lines overwrite each other.
    struct stat named {};
    for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat st {};
        if (stat(path.c_str(), &named) == 0 && S_ISREG(named.st_mode) && fstat(stream, &st) == 0 &&
            st.st_dev == named.st_dev && st.st_ino == named.st_ino) {
            const int fd = fcntl(stream, F_DUPFD_CLOEXEC, 3);
            error = fd < 0 ? errno : 0;
            return fd < 0 ? nullptr : OwnedDescriptor(fd);
        }
    }
    struct stat before {};
    if (stat(path.c_str(), &before) == 0 && IsAForeignLine(before)) {
        error = kTraceOnALine;
        return nullptr;
    }
    constexpr auto kReaderWait = std::chrono::seconds(2);
    const auto giveUp = std::chrono::steady_clock::now() + kReaderWait;
    // A link is looked at before it is followed; what is not a link is opened without following
    // one, so that a link planted meanwhile is looked at too.
    int follow = O_NOFOLLOW;
    int looks = 0;
    int fd;
    for (;;) {
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | follow,
                  0666);
        if (fd < 0 && errno == ELOOP && follow != 0 && ++looks <= 3) {
            const LinkVerdict link = LookAtLink(path);
            if (link == LinkVerdict::kPlanted) {
                errno = EACCES;  // as the kernel refuses it with the protection on
                break;
            }
            follow = link == LinkVerdict::kFollow ? 0 : O_NOFOLLOW;
            continue;
        }
        if (fd >= 0 || (errno != EINTR && errno != ENXIO)) {
            break;
        }
        if (errno == ENXIO) {
            struct stat st {};
            if (stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode) ||
                std::chrono::steady_clock::now() >= giveUp) {
                errno = ENXIO;
                break;
            }
            usleep(20 * 1000);
        }
    }
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    // A device put in the file's place since it was looked at is looked at again.
    struct stat opened {};
    if (fstat(fd, &opened) == 0 && S_ISCHR(opened.st_mode) &&
        (!S_ISCHR(before.st_mode) || opened.st_rdev != before.st_rdev) && IsAForeignLine(opened)) {
        close(fd);
        error = kTraceOnALine;
        return nullptr;
    }
    // A file of several names in a shared directory may be another user's hard link to a file of
    // this user's (or, for root, to any file), where fs.protected_hardlinks is off: emptied, it
    // would lose what it held. So it is looked at before it is emptied, unlike the shell's `>`.
    struct stat parent {};
    if (S_ISREG(opened.st_mode) && opened.st_nlink > 1 && follow != 0 &&
        InSharedDirectory(path, parent)) {
        close(fd);
        error = EACCES;
        return nullptr;
    }
    if (S_ISREG(opened.st_mode) && ftruncate(fd, 0) != 0) {
        error = errno;
        close(fd);
        return nullptr;
    }
    // The writer thread may wait on its writes; only the open had to not.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    error = 0;
    return OwnedDescriptor(fd);
}

}  // namespace fwburn::console

#include "ui/console/posix/extract_image.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "ui/console/posix/signals.hpp"

namespace fwburn::console {

namespace {

// The temporary file as the handlers see it; set and cleared with the signals blocked.
volatile sig_atomic_t gTemporaryDir = -1;
char gTemporaryName[32];

extern "C" void RemoveTemporaryAndEnd(int signo) {
    if (gTemporaryDir >= 0) {
        unlinkat(gTemporaryDir, gTemporaryName, 0);
    }
    signal(signo, SIG_DFL);
    raise(signo);  // delivered with the default action as the handler returns
}

// For the life of one replacement: the ending signals remove the temporary file (unblocked, so
// that a caller's blocked signal cannot wait past the end), and a file size limit is an error
// of the write, not the end of the process. One the program was started ignoring (nohup's
// SIGHUP) stays ignored: it would not have ended the program, so it must not end the replacement.
class SignalScope {
  public:
    SignalScope() {
        struct sigaction action {};
        action.sa_handler = RemoveTemporaryAndEnd;
        sigfillset(&action.sa_mask);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        for (int signo = 1; signo < NSIG; ++signo) {
            if (sigismember(&ending_, signo) != 1 ||
                sigaction(signo, nullptr, &saved_[signo]) != 0) {
                continue;
            }
            const bool ignored =
                (saved_[signo].sa_flags & SA_SIGINFO) == 0 && saved_[signo].sa_handler == SIG_IGN;
            if (signo == SIGXFSZ || !ignored) {
                sigaction(signo, signo == SIGXFSZ ? &ignore : &action, nullptr);
            }
        }
        pthread_sigmask(SIG_UNBLOCK, &ending_, &savedMask_);
    }
    ~SignalScope() {
        pthread_sigmask(SIG_SETMASK, &savedMask_, nullptr);
        for (int signo = 1; signo < NSIG; ++signo) {
            if (sigismember(&ending_, signo) == 1) {
                sigaction(signo, &saved_[signo], nullptr);
            }
        }
    }
    SignalScope(const SignalScope&) = delete;
    SignalScope& operator=(const SignalScope&) = delete;

  private:
    const sigset_t ending_ = EndingSignals();
    struct sigaction saved_[NSIG];
    sigset_t savedMask_;
};

// Runs `f` with the ending signals held back, so that the handlers never see a half-set name.
template <typename F>
auto Held(F f) {
    const sigset_t set = EndingSignals();
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &set, &old);
    auto result = f();
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return result;
}

// Short, whatever the target's name: a legal 255-byte name leaves no room for a suffix.
std::string TemporaryName(unsigned attempt) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const unsigned long mix = (static_cast<unsigned long>(now.tv_nsec) * 2654435761ul) ^
                              (static_cast<unsigned long>(getpid()) << 20) ^ attempt;
    char name[sizeof gTemporaryName];
    std::snprintf(name, sizeof name, ".fwburn-%08lx", mix & 0xFFFFFFFFul);
    return name;
}

// Makes a temporary file that was not there before (O_EXCL: no planted file or link is opened)
// and registers it for the signal handlers. New files get 0666 less the umask, as any new file.
int CreateTemporary(int dir, std::string& name) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        name = TemporaryName(attempt);
        const int fd = Held([&] {
            const int made = openat(dir, name.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (made >= 0) {
                std::snprintf(gTemporaryName, sizeof gTemporaryName, "%s", name.c_str());
                gTemporaryDir = dir;
            }
            return made;
        });
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;  // errno is EEXIST
}

bool WriteAll(int fd, const uint8_t* data, size_t length, WriteFunction write) {
    constexpr size_t kChunk = 1 << 20;
    size_t done = 0;
    while (done < length) {
        const size_t want = length - done < kChunk ? length - done : kChunk;
        const ssize_t n = write(fd, data + done, want);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// The existing target's owner and mode on the new file. Another owner is kept where the system
// allows it; the mode always.
bool KeepOwnerAndMode(int fd, const struct stat& old) {
    struct stat now {};
    if (fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
        if (fchown(fd, old.st_uid, old.st_gid) != 0) {
            (void)!fchown(fd, static_cast<uid_t>(-1), old.st_gid);  // the group at least
        }
    }
    return fchmod(fd, old.st_mode & 07777) == 0;
}

class Directory {
  public:
    explicit Directory(const std::string& path) {
        fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0 && errno == EACCES) {
            fd_ = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);  // writable, not readable
        }
    }
    ~Directory() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

}  // namespace

bool ReplaceFile(const std::string& file, const uint8_t* data, size_t length, std::string& error,
                 WriteFunction write) {
    if (write == nullptr) {
        write = ::write;
    }
    const size_t slash = file.rfind('/');
    const std::string dirPath = slash == std::string::npos ? "."
                                : slash == 0               ? "/"
                                                           : file.substr(0, slash);
    const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
    if (base.empty()) {
        error = "names a directory";
        return false;
    }
    Directory dir(dirPath);
    if (dir.fd() < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat old {};
    const bool exists = fstatat(dir.fd(), base.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) {
        error = std::strerror(errno);
        return false;
    }
    if (exists && S_ISLNK(old.st_mode)) {
        // Following it would let whoever can plant a link choose the file that gets replaced;
        // replacing it would break the user's link. The user names the file it points to.
        error = "a symbolic link; name the file it points to";
        return false;
    }
    if (exists && !S_ISREG(old.st_mode)) {
        error = "not a regular file; only a regular file is replaced";
        return false;
    }
    if (exists && faccessat(dir.fd(), base.c_str(), W_OK, AT_EACCESS) != 0) {
        error = std::strerror(errno);  // a read-only file is not replaced behind its back
        return false;
    }

    SignalScope signals;
    std::string temporary;
    const int fd = CreateTemporary(dir.fd(), temporary);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = WriteAll(fd, data, length, write) && (!exists || KeepOwnerAndMode(fd, old)) &&
              fsync(fd) == 0;
    int why = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        why = errno;
    }
    ok = ok && Held([&] {
             const bool renamed =
                 renameat(dir.fd(), temporary.c_str(), dir.fd(), base.c_str()) == 0;
             why = errno;
             if (renamed) {
                 gTemporaryDir = -1;
             }
             return renamed;
         });
    if (!ok) {
        Held([&] {
            unlinkat(dir.fd(), temporary.c_str(), 0);
            gTemporaryDir = -1;
            return 0;
        });
        error = std::strerror(why);
        return false;
    }
    fsync(dir.fd());  // the rename to disk too; some file systems refuse it, the file is in place
    return true;
}

}  // namespace fwburn::console

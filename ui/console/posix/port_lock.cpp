#include "ui/console/posix/port_lock.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "catalogue/sha256.hpp"
#include "link/posix/discovery.hpp"
#include "link/posix/port_holder.hpp"

namespace fwburn::console {

std::string UsbControllerIdentity() {
    return std::string("usb-") + posix::kControllerVendorId + "-" + posix::kControllerProductId;
}

namespace {

constexpr size_t kLongestName = 200;  // well inside NAME_MAX, with room for the digest

bool Plain(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '+';
}

// Opens the lock file without following a link planted in its place. Made anew it is ours and
// readable by all, so that other users' updaters can test the lock; an existing one is opened
// for writing where allowed, else for reading, which is enough for flock().
int OpenLockFile(const std::string& path) {
    constexpr int kFlags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | kFlags, 0644);
        if (fd >= 0) {
            fchmod(fd, 0644);  // whatever the umask
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
        fd = open(path.c_str(), O_RDWR | kFlags);
        if (fd < 0 && errno == EACCES) {
            fd = open(path.c_str(), O_RDONLY | kFlags);
        }
        if (fd >= 0 || errno != ENOENT) {
            return fd;
        }
        // Removed between the two opens: make it again.
    }
    return -1;
}

std::string ModeText(const struct stat& st) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return text;
}

// Why a lock file this user may not even read stays: an updater makes its files readable by all,
// so another user's program, or its umask, made it, and it blocks every update of the port until
// its owner or root removes it. Said with the owner, so that the operator knows whom to ask.
std::string Unreadable(const std::string& path, int error) {
    struct stat st {};
    if (error != EACCES || lstat(path.c_str(), &st) != 0) {
        return {};
    }
    std::string owner = "uid " + std::to_string(st.st_uid);
    char buffer[1024];
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(st.st_uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        owner = std::string("user ") + found->pw_name + " (" + owner + ")";
    }
    return "; a file of " + owner + " with mode " + ModeText(st) +
           ", which no updater makes: its owner or root must remove it";
}

// Writable by all, with the sticky bit: every user's updater can make its lock file there and
// none can remove another's. A property of the machine, the same whoever looks.
bool SharedByAll(const struct stat& st) {
    return S_ISDIR(st.st_mode) && (st.st_mode & 01777) == 01777;
}

// The pid the holder wrote; it writes it right after taking the lock, so an empty file is
// looked at again for a moment.
int HolderFromFile(int fd) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        char text[32] = {};
        if (pread(fd, text, sizeof text - 1, 0) > 0) {
            const long pid = std::strtol(text, nullptr, 10);
            if (pid > 0 && pid <= INT_MAX) {
                return static_cast<int>(pid);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

// A write past the file size limit raises SIGXFSZ at the writing thread, here the main one, which
// would take it for a signal sent to end the update. The pid is a hint for a refusal (the holder
// is found in /proc/locks first), so it is left out where the limit has no room for it.
bool FileSizeLimitAllows(size_t length) {
    rlimit limit{};
    return getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
           limit.rlim_cur >= length;
}

}  // namespace

std::string PortIdentity(const std::string& path) {
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        std::string identity(resolved);
        std::free(resolved);
        return identity;
    }
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + path : path;
}

std::string LockFileName(const std::string& identity) {
    std::string name;
    for (const char c : identity) {
        if (Plain(c)) {
            name += c;
        } else if (c == '/') {
            name += '_';
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            name += escaped;
        }
    }
    if (name.size() > kLongestName) {
        char hex[65];
        Sha256Hex(Sha256(reinterpret_cast<const uint8_t*>(identity.data()), identity.size()), hex);
        name = name.substr(0, kLongestName - 33) + "-" + std::string(hex, 32);
    }
    return "fwburn-" + name + ".lock";
}

std::vector<std::string> LockDirectories() {
    return {"/run/lock", "/tmp"};
}

std::string ChooseLockDirectory(const std::vector<std::string>& candidates) {
    for (const std::string& dir : candidates) {
        struct stat st {};
        if (stat(dir.c_str(), &st) == 0 && SharedByAll(st)) {
            return dir;
        }
    }
    return candidates.empty() ? std::string() : candidates.back();
}

std::string LockDirectoryFault(const std::string& dir) {
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) {
        return dir + ": " + std::strerror(errno) + "; it is where the lock files go";
    }
    if (!S_ISDIR(st.st_mode)) {
        return dir + ": not a directory; it is where the lock files go";
    }
    if (!SharedByAll(st)) {
        return dir + ": mode " + ModeText(st) +
               "; the lock files need a directory writable by all with the sticky bit (1777), "
               "where every updater on this machine sees every other one's lock";
    }
    if (faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return dir + ": " + std::strerror(errno) + "; this user cannot make its lock file there";
    }
    return {};
}

PortLock::~PortLock() {
    Release();
}

// The file goes while it is still locked, and only if it is still the one locked: an updater that
// opened it meanwhile finds its lock on a file no longer there and takes a new one (TakeOne).
void PortLock::Release() {
    for (size_t i = 0; i < fds_.size(); ++i) {
        struct stat held {};
        struct stat there {};
        // A shared file goes only with its last taker: another one still holds it when it cannot
        // be had alone (and then the conversion may have dropped this lock, which goes anyway).
        const bool alone = mode_ == Mode::kExclusive || flock(fds_[i], LOCK_EX | LOCK_NB) == 0;
        if (alone && fstat(fds_[i], &held) == 0 && lstat(files_[i].c_str(), &there) == 0 &&
            held.st_dev == there.st_dev && held.st_ino == there.st_ino) {
            unlink(files_[i].c_str());  // may fail where another user made it: it stays, harmless
        }
        close(fds_[i]);  // the flock goes with the last descriptor of the file
    }
    fds_.clear();
    files_.clear();
}

PortLock::Status PortLock::Take(const std::vector<std::string>& identities,
                                const std::vector<std::string>& directories, Mode mode) {
    Release();
    mode_ = mode;
    holder_ = 0;
    busyFile_.clear();
    busyIdentity_.clear();
    why_.clear();
    if (identities.empty()) {
        return Status::kHeld;
    }
    const std::string dir = ChooseLockDirectory(directories);
    if (dir.empty()) {
        why_ = "no directory for the lock files";
        return Status::kFailed;
    }
    why_ = LockDirectoryFault(dir);
    if (!why_.empty()) {
        if (dir != directories.front()) {
            why_ += " (" + directories.front() + " is not writable by all with the sticky bit)";
        }
        return Status::kFailed;
    }
    for (const std::string& identity : identities) {
        const Status status = TakeOne(identity, dir);
        if (status != Status::kHeld) {
            Release();
            return status;
        }
    }
    return Status::kHeld;
}

PortLock::Status PortLock::TakeOne(const std::string& identity, const std::string& dir) {
    const std::string path = dir + "/" + LockFileName(identity);
    for (int replaced = 0;;) {
        const int fd = OpenLockFile(path);
        if (fd < 0) {
            const int error = errno;
            why_ = path + ": " +
                   (error == ELOOP ? std::string("a symbolic link, not a lock file")
                                   : std::string(std::strerror(error)) + Unreadable(path, error));
            return Status::kFailed;
        }
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
            close(fd);
            why_ = path + ": not a plain file with a single link";
            return Status::kFailed;
        }
        const int locked = flock(fd, (mode_ == Mode::kShared ? LOCK_SH : LOCK_EX) | LOCK_NB);
        const int lockError = locked == 0 ? 0 : errno;
        struct stat now {};
        if (locked == 0 && (lstat(path.c_str(), &now) != 0 || now.st_dev != st.st_dev ||
                            now.st_ino != st.st_ino)) {
            // Removed or replaced while it was being opened: a lock on a file nobody else can
            // find keeps nobody out. Take the one that is there now.
            close(fd);
            if (++replaced > 3) {
                why_ = path + ": replaced again and again";
                return Status::kFailed;
            }
            continue;
        }
        if (locked != 0) {
            if (lockError == EWOULDBLOCK) {
                // The taker /proc/locks lists may have ended, its lock left to a child and its
                // pid to an unrelated process since; the pid it wrote is no better then.
                const int listed = posix::FlockHolder(st);
                holder_ = listed == 0                  ? HolderFromFile(fd)
                          : posix::MayHold(listed, st) ? listed
                                                       : posix::OpenedBy(st).pid;
                busyFile_ = path;
                busyIdentity_ = identity;
            } else {
                why_ = path + ": " + std::strerror(lockError);
            }
            close(fd);
            return lockError == EWOULDBLOCK ? Status::kBusy : Status::kFailed;
        }
        // Fixed width at the start, never truncated: a longer old text cannot leave digits behind
        // that would read as part of the pid.
        char text[16];
        const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
        if (FileSizeLimitAllows(static_cast<size_t>(length))) {
            [[maybe_unused]] const ssize_t written =
                pwrite(fd, text, static_cast<size_t>(length), 0);
        }
        fds_.push_back(fd);
        files_.push_back(path);
        return Status::kHeld;
    }
}

}  // namespace fwburn::console

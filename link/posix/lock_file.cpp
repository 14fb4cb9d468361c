#include "link/posix/lock_file.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "link/posix/port_holder.hpp"

namespace fwburn::posix {

namespace {

// Whether `text` is a pid written out: digits, blanks around them, a line end.
bool IsPidText(const char* text, ssize_t length) {
    const std::string_view s(text, static_cast<size_t>(length));
    const size_t first = s.find_first_not_of(' ');
    const size_t digits = s.find_first_not_of("0123456789", first);
    return first != digits && s.find_first_not_of(" \n", digits) == std::string_view::npos;
}

// The pid a lock file names: ten ASCII digits (blanks before them allowed), or the four binary
// bytes of the older form. 0 when the text names none. Four bytes are told apart by what they
// hold, not by their count: "301\n" and "1234" are text, while a binary pid (22 bits at most)
// has a zero byte, which text never has.
int PidIn(const char* text, ssize_t length) {
    if (length == 4 && !IsPidText(text, length)) {
        int pid = 0;
        std::memcpy(&pid, text, sizeof pid);
        return pid > 0 ? pid : 0;
    }
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    return end != text && pid > 0 && pid <= 0x7fffffff ? static_cast<int>(pid) : 0;
}

// The holder of an existing file: its live pid, 0 when it is ours or stale (then removed), -1
// when it is there but cannot be read.
int Holder(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        struct stat st {};
        return lstat(path.c_str(), &st) == 0 ? -1 : 0;  // there but unreadable: a link, a mode
    }
    char text[32] = {};
    const ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    const int pid = length > 0 ? PidIn(text, length) : 0;
    if (pid != 0 && pid != getpid() && Alive(pid)) {
        return pid;
    }
    unlink(path.c_str());  // stale, or left by this process
    return 0;
}

}  // namespace

LockFileClaim ClaimLockFile(const std::string& directory, const std::string& ttyName) {
    // The file made first is named by the pid: the workers of several controllers, opening their
    // ports at once, would make and remove each other's, and one port would go without its file.
    static std::mutex making;
    const std::lock_guard<std::mutex> one(making);
    LockFileClaim claim;
    const std::string path = directory + "/LCK.." + ttyName;
    const std::string temporary = directory + "/LTMP." + std::to_string(getpid());
    for (int attempt = 0; attempt < 3; ++attempt) {
        claim.holder = Holder(path);
        if (claim.holder != 0) {
            return claim;
        }
        // Made whole under another name, then linked into place: nobody reads a half-written pid,
        // and of two claims at once one link fails. Made anew: never written through a file or a
        // link planted under that name.
        constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        int fd = open(temporary.c_str(), kFlags, 0644);
        if (fd < 0 && errno == EEXIST && unlink(temporary.c_str()) == 0) {
            fd = open(temporary.c_str(), kFlags, 0644);
        }
        if (fd < 0) {
            return claim;  // nowhere to put it
        }
        char text[16];
        const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
        const bool written = write(fd, text, static_cast<size_t>(length)) == length;
        fchmod(fd, 0644);  // readable by every user's program, whatever the umask
        close(fd);
        const bool linked = written && link(temporary.c_str(), path.c_str()) == 0;
        const int error = errno;
        unlink(temporary.c_str());
        if (linked) {
            claim.path = path;
            return claim;
        }
        if (!written || error != EEXIST) {
            return claim;
        }
    }
    return claim;
}

void ReleaseLockFile(const std::string& path) {
    if (path.empty()) {
        return;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    char text[32] = {};
    const ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    if (length > 0 && PidIn(text, length) == getpid()) {
        unlink(path.c_str());
    }
}

}  // namespace fwburn::posix

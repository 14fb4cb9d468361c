#include "link/posix/port_holder.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fwburn::posix {

namespace {

using Clock = std::chrono::steady_clock;

constexpr Clock::duration kBudget = std::chrono::milliseconds(200);

// What a descriptor must lead to: a character device by any of its nodes, any other file itself.
struct Wanted {
    bool device = false;
    dev_t id = 0;     // the device's number, or the filesystem's
    ino_t inode = 0;  // unused for a device
};

Wanted WantedOf(const struct stat& node) {
    return S_ISCHR(node.st_mode) ? Wanted{true, node.st_rdev, 0}
                                 : Wanted{false, node.st_dev, node.st_ino};
}

enum class Open { kNo, kYes, kUnseen };

// An O_PATH descriptor names the file without opening it: no input to share, no lock to hold.
// Unreadable flags count as an open.
bool PathOnly(const std::string& pid, const char* fd) {
    const int info =
        open(("/proc/" + pid + "/fdinfo/" + fd).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (info < 0) {
        return false;
    }
    char text[256] = {};
    const ssize_t length = read(info, text, sizeof text - 1);
    close(info);
    const char* flags = length > 0 ? std::strstr(text, "flags:") : nullptr;
    return flags != nullptr && (std::strtoul(flags + 6, nullptr, 8) & O_PATH) != 0;
}

// Whether the process `pid` has the wanted file open; kUnseen when its descriptors are not shown
// to this process or not all were looked at by `deadline`. Each descriptor is looked at through
// its magic link, which leads to the open file itself whatever its path; AT_STATX_DONT_SYNC keeps
// a file of a network or FUSE filesystem from asking its server, which may not answer.
Open HasOpen(const std::string& pid, const Wanted& wanted, Clock::time_point deadline) {
    const int dir = open(("/proc/" + pid + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        // ENOENT: ended, or hidden by hidepid
        return errno == ENOENT && !Alive(std::atoi(pid.c_str())) ? Open::kNo : Open::kUnseen;
    }
    DIR* fds = fdopendir(dir);
    if (fds == nullptr) {
        close(dir);
        return Open::kUnseen;
    }
    Open found = Open::kNo;
    for (unsigned looked = 0; found == Open::kNo; ++looked) {
        if (looked % 64 == 0 && Clock::now() >= deadline) {
            found = Open::kUnseen;  // a process with a great many descriptors
            break;
        }
        const dirent* entry = readdir(fds);
        if (entry == nullptr) {
            break;
        }
        struct statx st {};
        if (entry->d_name[0] == '.' || statx(dirfd(fds), entry->d_name, AT_STATX_DONT_SYNC,
                                             STATX_TYPE | STATX_INO, &st) != 0) {
            continue;
        }
        const bool leads =
            wanted.device
                ? S_ISCHR(st.stx_mode) && makedev(st.stx_rdev_major, st.stx_rdev_minor) == wanted.id
                : makedev(st.stx_dev_major, st.stx_dev_minor) == wanted.id &&
                      st.stx_ino == wanted.inode;
        found = leads && !PathOnly(pid, entry->d_name) ? Open::kYes : Open::kNo;
    }
    closedir(fds);
    return found;
}

// Calls `visit` with the pid of each process `proc` lists (its numeric entries), in its order,
// until `visit` returns true or `deadline` passes, looked at before each one: a machine with tens
// of thousands of processes, or a /proc slow to answer, cannot hold up the caller for long.
template <typename Visit>
void EachProcess(const std::string& proc, Clock::time_point deadline, Visit visit) {
    DIR* dir = opendir(proc.c_str());
    if (dir == nullptr) {
        return;
    }
    while (Clock::now() < deadline) {
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            break;
        }
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") == std::string::npos && visit(pid)) {
            break;
        }
    }
    closedir(dir);
}

// This process's pid as /proc numbers it: in a pid namespace whose /proc is its parent's (unshare
// without a /proc of its own), getpid() is another number and this process would name itself.
int SelfInProc() {
    char link[32] = {};
    const ssize_t length = readlink("/proc/self", link, sizeof link - 1);
    const int pid = length > 0 ? std::atoi(link) : 0;
    return pid > 0 ? pid : getpid();
}

// The first process but this one with the wanted file open.
PortHolder Opener(const Wanted& wanted, Clock::time_point deadline) {
    const std::string self = std::to_string(SelfInProc());
    PortHolder holder;
    EachProcess("/proc", deadline, [&](const std::string& pid) {
        if (pid == self || HasOpen(pid, wanted, deadline) != Open::kYes) {
            return false;
        }
        holder.program = ProgramName(std::atoi(pid.c_str()));
        holder.pid = holder.program.empty() ? 0 : std::atoi(pid.c_str());  // empty: it ended
        return holder.pid != 0;
    });
    return holder;
}

}  // namespace

int FlockHolder(std::istream& locks, const struct stat& node) {
    char where[64];
    std::snprintf(where, sizeof where, "%02x:%02x:%llu", major(node.st_dev), minor(node.st_dev),
                  static_cast<unsigned long long>(node.st_ino));
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; waiters have "->" after the number.
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        fields >> number >> kind >> mode >> access >> pid >> file;
        if (kind == "FLOCK" && file == where) {
            return std::atoi(pid.c_str());
        }
    }
    return 0;
}

int FlockHolder(const struct stat& node) {
    std::ifstream locks("/proc/locks");
    return FlockHolder(locks, node);
}

bool Alive(int pid) {
    return kill(pid, 0) == 0 || errno == EPERM;
}

std::string ProgramName(int pid) {
    if (pid <= 0) {
        return {};
    }
    const int fd = open(("/proc/" + std::to_string(pid) + "/comm").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    char text[64];
    const ssize_t length = read(fd, text, sizeof text);
    close(fd);
    // The kernel ends the name with a newline; one inside it is the process's own.
    std::string name(text, length > 0 ? static_cast<size_t>(length) : 0);
    if (!name.empty() && name.back() == '\n') {
        name.pop_back();
    }
    return name;
}

bool MayHold(int pid, const struct stat& node) {
    return HasOpen(std::to_string(pid), WantedOf(node), Clock::now() + kBudget) != Open::kNo;
}

PortHolder FlockedBy(const struct stat& node) {
    const Clock::time_point deadline = Clock::now() + kBudget;
    const int pid = FlockHolder(node);
    if (pid == SelfInProc()) {
        return {};
    }
    if (pid > 0) {
        std::string program = ProgramName(pid);
        if (!program.empty() &&
            HasOpen(std::to_string(pid), WantedOf(node), deadline) != Open::kNo) {
            return {pid, std::move(program)};
        }
        if (program.empty() && Alive(pid)) {
            return {};  // there, but its name is hidden
        }
    }
    // The lock outlives its taker in a process that inherited the descriptor, as a program that
    // forks into the background leaves it; and the taker's pid may since be anyone's.
    return Opener(WantedOf(node), deadline);
}

PortHolder OpenedBy(dev_t device, Clock::duration budget) {
    return Opener(Wanted{true, device, 0}, Clock::now() + budget);
}

PortHolder OpenedBy(const struct stat& node, Clock::duration budget) {
    return Opener(WantedOf(node), Clock::now() + budget);
}

pid_t TerminalSession(dev_t device, Clock::duration budget, const std::string& proc) {
    pid_t session = 0;
    EachProcess(proc, Clock::now() + budget, [&](const std::string& pid) {
        const int stat = open((proc + "/" + pid + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
        if (stat < 0) {
            return false;  // ended meanwhile
        }
        char text[1024] = {};
        const ssize_t length = read(stat, text, sizeof text - 1);
        close(stat);
        // "pid (name) state ppid pgrp session tty_nr ...": the name may hold anything, ")" too.
        const char* fields = length > 0 ? std::strrchr(text, ')') : nullptr;
        int found = 0;
        unsigned tty = 0;
        if (fields == nullptr || std::sscanf(fields + 1, " %*c %*d %*d %d %u", &found, &tty) != 2) {
            return false;
        }
        const unsigned ttyMajor = (tty >> 8) & 0xfff;
        const unsigned ttyMinor = (tty & 0xff) | ((tty >> 12) & 0xfff00);
        if (tty == 0 || found <= 0 || ttyMajor != major(device) || ttyMinor != minor(device)) {
            return false;
        }
        session = found;
        return true;
    });
    return session;
}

}  // namespace fwburn::posix

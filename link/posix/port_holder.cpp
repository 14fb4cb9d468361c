#include "link/posix/port_holder.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fwburn::posix {

namespace {

using Clock = std::chrono::steady_clock;

// Whether the process `pid` has `device` open. Each descriptor is looked at through its magic
// link, which leads to the open file itself whatever its path; AT_STATX_DONT_SYNC keeps a file of
// a network or FUSE filesystem from asking its server, which may not answer.
bool HasOpen(const std::string& pid, dev_t device, Clock::time_point deadline) {
    const int dir = open(("/proc/" + pid + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return false;  // ended, or another user's
    }
    DIR* fds = fdopendir(dir);
    if (fds == nullptr) {
        close(dir);
        return false;
    }
    bool found = false;
    for (unsigned looked = 0; !found; ++looked) {
        if (looked % 64 == 0 && Clock::now() >= deadline) {
            break;  // a process with a great many descriptors
        }
        const dirent* entry = readdir(fds);
        if (entry == nullptr) {
            break;
        }
        struct statx st {};
        found = entry->d_name[0] != '.' &&
                statx(dirfd(fds), entry->d_name, AT_STATX_DONT_SYNC, STATX_TYPE, &st) == 0 &&
                S_ISCHR(st.stx_mode) && makedev(st.stx_rdev_major, st.stx_rdev_minor) == device;
    }
    closedir(fds);
    return found;
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

PortHolder FlockedBy(const struct stat& node) {
    const int pid = FlockHolder(node);
    if (pid == getpid()) {
        return {};
    }
    if (pid > 0) {
        if (std::string program = ProgramName(pid); !program.empty()) {
            return {pid, std::move(program)};
        }
        if (kill(pid, 0) == 0 || errno == EPERM) {
            return {};  // there, but its name is hidden
        }
    }
    // The lock outlives its taker in a process that inherited the descriptor, as a program that
    // forks into the background leaves it.
    return OpenedBy(node.st_rdev);
}

PortHolder OpenedBy(dev_t device, Clock::duration budget) {
    const Clock::time_point deadline = Clock::now() + budget;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return {};
    }
    const std::string self = std::to_string(getpid());
    PortHolder holder;
    while (holder.pid == 0 && Clock::now() < deadline) {
        const dirent* entry = readdir(proc);
        if (entry == nullptr) {
            break;
        }
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self ||
            !HasOpen(pid, device, deadline)) {
            continue;
        }
        holder.program = ProgramName(std::atoi(pid.c_str()));
        holder.pid = holder.program.empty() ? 0 : std::atoi(pid.c_str());  // empty: it ended
    }
    closedir(proc);
    return holder;
}

}  // namespace fwburn::posix

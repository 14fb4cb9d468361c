// One controller, one update. The port itself is held exclusively only while it is open, and the
// worker closes it for a replug or power-cycle prompt: another updater started then would take
// the same controller. So the console holds a lock for the whole update, prompt included: an
// flock() on a lock file named after the port, released by the kernel when the process ends,
// however it ends. The holder writes its pid into the file, and a refused updater names it.
#pragma once

#include <string>
#include <vector>

#include "ui/console/session/host.hpp"

namespace fwburn::console {

// The identity a USB-linked controller found by discovery is locked under, besides its ttys: a
// tty may come back under another name after the replug, the controller's ids do not.
std::string UsbControllerIdentity();  // "usb-3b9e-0001"

// What a port path stands for: the absolute path it resolves to, symbolic links followed, so
// that /dev/serial/by-id/... and the /dev/ttyUSB0 it points to are one port. A path that does not
// resolve (the port is missing: its open will fail) stands for itself, made absolute.
std::string PortIdentity(const std::string& path);

// "fwburn-<identity>.lock": '/' becomes '_', and '_', '%' and anything but letters, digits, '.',
// '-' and '+' become %XX, so that two identities never share a file. A name too long for a
// directory entry keeps its start and ends with a digest of the whole identity.
std::string LockFileName(const std::string& identity);

// Where lock files may go, in order: /run/lock, then /tmp. One place for every updater on the
// machine, whoever runs it and whatever its environment: a per-user directory such as
// $XDG_RUNTIME_DIR would hide its locks from other users and from the same user's sessions without
// it (ssh, cron, su).
std::vector<std::string> LockDirectories();

// The one of `candidates` the lock files go in: the first that is a directory writable by all
// with the sticky bit (mode 1777), else the last, whose fault LockDirectoryFault() tells. It
// depends on the directories alone, so every updater on the machine chooses the same one.
std::string ChooseLockDirectory(const std::vector<std::string>& candidates);

// Why `dir` cannot hold this user's lock files, naming it (missing, not a directory, not mode
// 1777, not writable for this user); empty when it can.
std::string LockDirectoryFault(const std::string& dir);

class PortLock final : public HeldLock {
  public:
    enum class Status { kHeld, kBusy, kFailed };
    // kShared: held by any number of takers at once, and keeps out only an exclusive one (a run
    // of several controllers shares the USB identity that a run discovering its controller takes
    // alone, since that one would take any controller on the link).
    enum class Mode { kExclusive, kShared };

    PortLock() = default;
    ~PortLock() override;
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // Takes the lock of every identity, or of none, in the directory ChooseLockDirectory() picks
    // of `directories`: kBusy when another process holds one (see holder() and busyFile()),
    // kFailed when that directory cannot be used or a lock file is not safe to use (see why()).
    // Never follows a symbolic link planted as the lock file, never truncates a file, and writes
    // its pid only into a plain file with a single link.
    Status Take(const std::vector<std::string>& identities,
                const std::vector<std::string>& directories, Mode mode = Mode::kExclusive);
    // Removes the lock files it made or may remove (a shared one only when no other taker holds
    // it), then lets the locks go. A process that ends
    // without it (a signal, SIGKILL) leaves its files, unlocked: the next updater takes them.
    void Release() override;

    // The pid of the process holding the busy lock; 0 when it cannot be told.
    int holder() const { return holder_; }
    const std::string& busyFile() const { return busyFile_; }
    const std::string& busyIdentity() const { return busyIdentity_; }
    const std::string& why() const { return why_; }
    // The lock files held, one per identity.
    const std::vector<std::string>& files() const { return files_; }

  private:
    Status TakeOne(const std::string& identity, const std::string& dir);

    Mode mode_ = Mode::kExclusive;
    std::vector<int> fds_;
    std::vector<std::string> files_;
    int holder_ = 0;
    std::string busyFile_;
    std::string busyIdentity_;
    std::string why_;
};

}  // namespace fwburn::console

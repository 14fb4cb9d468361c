// The serial-port lock file of the Linux filesystem layout: LCK..<tty name> in /run/lock, holding
// its owner's pid as ten ASCII digits and a newline. Terminal programs that keep to it and neither
// flock() the device nor set TIOCEXCL are seen, and see us: a second reader on the line would take
// the controller's replies mid-transfer.
#pragma once

#include <string>

namespace fwburn::posix {

inline constexpr char kLockFileDirectory[] = "/run/lock";

struct LockFileClaim {
    std::string path;  // ours to remove at the close; empty when none was made
    int holder = 0;    // the live process that holds the port; -1: a lock file we cannot read
};

// Claims the port named `ttyName` (the kernel's name: ttyUSB0, or 3 for /dev/pts/3) in
// `directory`. A file left by a process that has ended is removed. Where no file can be made (no
// such directory, not writable) the claim is empty and the open goes on: the flock() and
// TIOCEXCL still hold.
LockFileClaim ClaimLockFile(const std::string& directory, const std::string& ttyName);

// Removes the claim's file if it still holds this process's pid.
void ReleaseLockFile(const std::string& path);

}  // namespace fwburn::posix

// Who keeps a port from this process, as far as /proc lets it be seen: a refusal that names the
// program saves an operator the hunt for it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <istream>
#include <string>

namespace fwburn::posix {

struct PortHolder {
    int pid = 0;          // 0: none could be seen
    std::string program;  // as the process named itself: the caller shows it escaped
};

// The pid /proc/locks (or `locks`, in its format) lists holding an flock() on the file `node`
// describes; 0 when none is listed. For a device node that is the node's filesystem and inode,
// not the device: every node of a device has locks of its own.
int FlockHolder(const struct stat& node);
int FlockHolder(std::istream& locks, const struct stat& node);

// The name a process set for itself (/proc/PID/comm, at most 15 bytes, control characters and
// all); empty once it has ended or where /proc hides it.
std::string ProgramName(int pid);

// Whether the process `pid` exists, another user's too.
bool Alive(int pid);

// Whether the process `pid` may be the one that holds a lock on the file `node` describes: it
// has that file open (a device by any of its nodes), or /proc does not show its descriptors to
// this process (another user's, to all but root; hidepid). The pid /proc/locks lists is the
// taker's, which may have ended and left the lock to a child with its descriptor, and the pid to
// an unrelated process since.
bool MayHold(int pid, const struct stat& node);

// The holder of the flock on the file `node` describes (a device node, or a lock file) that
// refused this process: the taker while MayHold says so, else another process with the file open,
// as OpenedBy finds, within 200 ms for both. None when it is this process, or hidden (another
// user's under hidepid).
PortHolder FlockedBy(const struct stat& node);

// Another process that has the character device `device` open, by any node, found through the
// descriptors in /proc/*/fd (those of other users only with privilege); the first in /proc's
// order. The look gives up after `budget`, and never waits on a descriptor's file: it is not
// opened, and its attributes are taken as cached.
PortHolder OpenedBy(dev_t device,
                    std::chrono::steady_clock::duration budget = std::chrono::milliseconds(200));
// The same for the file `node` describes: a device by any of its nodes, any other file itself.
PortHolder OpenedBy(const struct stat& node,
                    std::chrono::steady_clock::duration budget = std::chrono::milliseconds(200));

// The session whose controlling terminal the tty `device` is, as /proc/N/stat (under `proc`)
// tells; 0 when none is seen. Processes that hidepid hides are not seen, nor those not reached
// within `budget` (about 8000 in 200 ms on a slow machine): where there are more, the tty is taken
// for no one's terminal, as it was before the check existed, rather than the open waiting on the
// walk. The check spares an operator a wrong port, it does not guard one.
pid_t TerminalSession(dev_t device,
                      std::chrono::steady_clock::duration budget = std::chrono::milliseconds(200),
                      const std::string& proc = "/proc");

}  // namespace fwburn::posix

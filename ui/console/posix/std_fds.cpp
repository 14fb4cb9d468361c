#include "ui/console/posix/std_fds.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace fwburn::console {

bool KeepStandardDescriptorsOpen() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // The lower ones are open by now, so the open takes exactly this number. Inherited like
        // any standard descriptor: no O_CLOEXEC. A closed stdout or stderr takes a descriptor
        // that holds the place but writes nothing (EBADF, as the closed one did): its lines are
        // said lost, as on a full disk, not swallowed as /dev/null would.
        const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDWR : O_PATH);
        if (null != fd) {
            if (null >= 0) {
                close(null);
            }
            return false;
        }
    }
    return true;
}

}  // namespace fwburn::console

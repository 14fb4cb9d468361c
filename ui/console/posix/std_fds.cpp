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
        // any standard descriptor: no O_CLOEXEC.
        const int null = open("/dev/null", O_RDWR);
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

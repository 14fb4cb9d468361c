// A program started with standard descriptors closed: each becomes /dev/null, so that the next
// file it opens gets a number above 2. Each case runs in a child process of its own.
#include "ui/console/posix/std_fds.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

namespace fwburn::console {
namespace {

bool IsDevNull(int fd) {
    struct stat st {};
    struct stat null {};
    return fstat(fd, &st) == 0 && stat("/dev/null", &null) == 0 && S_ISCHR(st.st_mode) &&
           st.st_rdev == null.st_rdev;
}

// What the child found, as its exit status: 0 all well, else the first thing wrong.
int InChild(const std::vector<int>& closed) {
    const pid_t pid = fork();
    if (pid == 0) {
        for (int fd : closed) {
            close(fd);
        }
        if (!KeepStandardDescriptorsOpen()) {
            _exit(10);
        }
        for (int fd : closed) {
            if (!IsDevNull(fd)) {
                _exit(20 + fd);
            }
            if (fcntl(fd, F_GETFD) != 0) {  // inherited as standard descriptors are
                _exit(30 + fd);
            }
        }
        for (int fd = 0; fd <= 2; ++fd) {
            if (fcntl(fd, F_GETFD) < 0) {
                _exit(40 + fd);
            }
        }
        const int next = open("/dev/zero", O_RDONLY | O_CLOEXEC);
        _exit(next > 2 ? 0 : 50);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StdFdsTest, ClosedOnesBecomeDevNullAndTheNextOpenIsAboveThem) {
    const std::vector<std::vector<int>> cases = {{}, {0}, {1}, {2}, {0, 2}, {1, 2}, {0, 1, 2}};
    for (const std::vector<int>& closed : cases) {
        std::string name;
        for (int fd : closed) {
            name += std::to_string(fd);
        }
        EXPECT_EQ(InChild(closed), 0) << "closed: " << name;
    }
}

TEST(StdFdsTest, OpenOnesAreLeftAlone) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        _exit(KeepStandardDescriptorsOpen() && !IsDevNull(1) && write(1, "x", 1) == 1 ? 0 : 1);
    }
    close(fds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    char c = 0;
    EXPECT_EQ(read(fds[0], &c, 1), 1);
    EXPECT_EQ(c, 'x');
    EXPECT_EQ(WEXITSTATUS(status), 0);
    close(fds[0]);
}

}  // namespace
}  // namespace fwburn::console

// Who holds a port: the flock's holder in /proc/locks, and a process with the device open, this
// one never named. The refusals that show them are the pty tests'.
#include "link/posix/port_holder.hpp"

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>

#include "tests/posix/pty.hpp"
#include "tests/support/flock_heir.hpp"

namespace fwburn::posix::test {
namespace {

TEST(PortHolder, TheFlockHoldersLineIsTheOneOfItsNodeNotAWaiterNorAnotherKindOfLock) {
    struct stat node {};
    node.st_dev = makedev(0, 0x1b);  // /proc/locks writes the numbers in hex
    node.st_ino = 3;
    struct Case {
        const char* name;
        std::string locks;
        int holder;
    };
    const Case cases[] = {
        {"the holder", "1: FLOCK  ADVISORY  WRITE 41 00:1b:3 0 EOF\n", 41},
        {"a shared holder", "1: FLOCK  ADVISORY  READ 42 00:1b:3 0 EOF\n", 42},
        {"after others' locks",
         "1: POSIX  ADVISORY  WRITE 7 00:1b:3 0 EOF\n"      // fcntl() locks never refuse flock()
         "2: FLOCK  ADVISORY  WRITE 8 00:1b:30 0 EOF\n"     // another inode
         "3: FLOCK  ADVISORY  WRITE 9 00:27:3 0 EOF\n"      // its number in decimal: another fs
         "4: -> FLOCK  ADVISORY  WRITE 10 00:1b:3 0 EOF\n"  // waits for the lock, holds none
         "5: FLOCK  ADVISORY  WRITE 43 00:1b:3 0 EOF\n",
         43},
        {"none", "1: POSIX  ADVISORY  WRITE 7 00:1b:3 0 EOF\n", 0},
    };
    for (const Case& c : cases) {
        std::istringstream locks(c.locks);
        EXPECT_EQ(FlockHolder(locks, node), c.holder) << c.name;
    }
}

TEST(PortHolder, AnotherProcessWithTheDeviceOpenIsNamedThisOneNever) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const int own = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(own, 0);
    struct stat node {};
    ASSERT_EQ(fstat(own, &node), 0);
    ASSERT_EQ(flock(own, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(FlockedBy(node).pid, 0);  // our own lock: nobody else to name
    EXPECT_EQ(OpenedBy(node.st_rdev).pid, 0);

    // A child with the node open by `flags`, until killed.
    const auto holding = [&](int flags) {
        int ready[2];
        if (pipe(ready) != 0) {
            return pid_t{-1};
        }
        const pid_t child = fork();
        if (child == 0) {
            close(own);  // inherited: the child holds the node by `flags` alone
            const int fd = open(pty.slavePath().c_str(), flags);
            prctl(PR_SET_NAME, "opener\033");
            const char byte = fd >= 0 ? 1 : 0;
            [[maybe_unused]] const ssize_t written = write(ready[1], &byte, 1);
            pause();
            _exit(0);
        }
        close(ready[1]);
        char byte = 0;
        const bool held = read(ready[0], &byte, 1) == 1 && byte == 1;
        close(ready[0]);
        return held ? child : pid_t{-1};
    };
    // An O_PATH descriptor only names the node: it reads nothing and holds no lock.
    const pid_t pathOnly = holding(O_PATH);
    const pid_t child = holding(O_RDWR | O_NOCTTY);
    const PortHolder holder = OpenedBy(node.st_rdev);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const PortHolder none = OpenedBy(node.st_rdev);
    kill(pathOnly, SIGKILL);
    waitpid(pathOnly, nullptr, 0);
    close(own);
    ASSERT_GT(pathOnly, 0);
    ASSERT_GT(child, 0);
    EXPECT_EQ(holder.pid, child);
    EXPECT_EQ(holder.program, "opener\033");  // as it is: the console escapes it
    EXPECT_EQ(none.pid, 0);
}

// In a pid namespace that sees its parent's /proc (unshare without a /proc of its own), getpid()
// is not the number /proc gives this process: it still never names itself.
TEST(PortHolder, ThisProcessIsNotNamedWhereProcNumbersItOtherwise) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    int result[2];
    ASSERT_EQ(pipe(result), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(result[0]);
        int found[2] = {-1, -1};  // {-1, -1}: no namespace to be had here
        if (unshare(CLONE_NEWUSER | CLONE_NEWPID) == 0) {
            const pid_t inner = fork();  // pid 1 of the new namespace
            if (inner == 0) {
                found[0] = found[1] = -3;  // the pty could not be opened and locked
                const int fd = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
                struct stat node {};
                if (fd >= 0 && fstat(fd, &node) == 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) {
                    found[0] = OpenedBy(node.st_rdev).pid;
                    found[1] = FlockedBy(node).pid;
                }
                [[maybe_unused]] const ssize_t n = write(result[1], found, sizeof found);
                _exit(0);
            }
            waitpid(inner, nullptr, 0);
            _exit(0);
        }
        [[maybe_unused]] const ssize_t n = write(result[1], found, sizeof found);
        _exit(0);
    }
    close(result[1]);
    int found[2] = {-2, -2};
    const ssize_t got = read(result[0], found, sizeof found);
    close(result[0]);
    waitpid(child, nullptr, 0);
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof found));
    if (found[0] == -1) {
        GTEST_SKIP() << "no user and pid namespace for this process";
    }
    EXPECT_EQ(found[0], 0) << "OpenedBy";
    EXPECT_EQ(found[1], 0) << "FlockedBy";
}

// The session whose terminal a tty is, from a /proc made for the test: the stat line's fields
// after the name, the tty's number as the kernel packs it, and a walk bounded by its budget.
TEST(PortHolder, ATerminalsSessionIsFoundWithinTheBudgetOnly) {
    using std::chrono::seconds;
    struct Case {
        const char* name;
        const char* entry;
        const char* stat;
        dev_t tty;
        std::chrono::steady_clock::duration budget;
        pid_t session;
    };
    const Case cases[] = {
        {"a session's terminal", "4242", "4242 (bash) S 4000 4242 4242 34816 4242 0",
         makedev(136, 0), seconds(5), 4242},
        {"a name with fields in it", "77", "77 (x) S 1 9 9 34816) S 1 77 77 34817 77 0",
         makedev(136, 1), seconds(5), 77},
        {"a minor above 255", "50", "50 (sh) S 1 50 50 1083436 50 0", makedev(136, 300), seconds(5),
         50},
        {"no process", "self", "4242 (bash) S 4000 4242 4242 34816 4242 0", makedev(136, 0),
         seconds(5), 0},
        {"the budget spent", "4242", "4242 (bash) S 4000 4242 4242 34816 4242 0", makedev(136, 0),
         seconds(0), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char proc[] = "/tmp/fwburn-proc-XXXXXX";
        ASSERT_NE(mkdtemp(proc), nullptr);
        const std::string entry = std::string(proc) + "/" + c.entry;
        ASSERT_EQ(mkdir(entry.c_str(), 0755), 0);
        std::ofstream(entry + "/stat") << c.stat << "\n";
        EXPECT_EQ(TerminalSession(c.tty, c.budget, proc), c.session);
        unlink((entry + "/stat").c_str());
        rmdir(entry.c_str());
        rmdir(proc);
    }
}

// The taker listed in /proc/locks let go of its descriptor after leaving the lock to a child, as
// one that forks into the background and ends does, after which its pid may go to anyone: named
// only while it has the file open, else whoever has.
TEST(PortHolder, ATakerWithoutTheFileOpenIsPassedOverForTheOneThatHasIt) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    char file[] = "/tmp/fwburn-holder-XXXXXX";
    const int made = mkstemp(file);
    ASSERT_GE(made, 0);
    close(made);
    for (const std::string& path : {pty.slavePath(), std::string(file)}) {
        SCOPED_TRACE(path);
        struct stat node {};
        ASSERT_EQ(stat(path.c_str(), &node), 0);
        const fwburn::test::FlockHeir taker(path, false);
        ASSERT_GT(taker.heir(), 0);
        EXPECT_EQ(FlockedBy(node).pid, taker.heir());
    }
    unlink(file);
}

}  // namespace
}  // namespace fwburn::posix::test

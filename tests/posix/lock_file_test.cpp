// The LCK.. files that terminal programs keep to: a live holder keeps the port, a stale or
// unfinished file is taken over, a planted link is never followed, and the open of a port says
// who holds it.
#include "link/posix/lock_file.hpp"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "link/posix/posix_device.hpp"
#include "tests/posix/pty.hpp"

namespace fwburn::posix::test {
namespace {

std::string Hdb(int pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", pid);
    return text;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int DeadPid() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return child;
}

TEST(LockFile, ALiveHolderKeepsThePortAndAnyOtherFileIsTakenOver) {
    const int parent = getppid();
    const int dead = DeadPid();
    std::string binaryParent(4, '\0');
    std::memcpy(binaryParent.data(), &parent, 4);
    struct Case {
        const char* name;
        const char* before;  // nullptr: no file; "@link": a symbolic link
        std::string text;
        int holder;  // 0: the claim is ours
    } cases[] = {
        {"none", nullptr, "", 0},
        {"a live holder", "", Hdb(parent), parent},
        {"a live holder, older binary form", "", binaryParent, parent},
        {"a live holder, text in four bytes", "", "  1\n", 1},
        {"a live holder, text in four bytes without a line end", "", "   1", 1},
        {"an ended holder", "", Hdb(dead), 0},
        {"no pid in it", "", "garbage\n", 0},
        {"empty", "", "", 0},
        {"left by this process", "", Hdb(getpid()), 0},
        {"a planted link", "@link", "", -1},
        {"a link planted as the file made first", "@temp", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char dir[] = "/tmp/fwburn-lck-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        const std::string path = std::string(dir) + "/LCK..ttyUSB7";
        const std::string target = std::string(dir) + "/elsewhere";
        if (c.before != nullptr && std::string(c.before) == "@link") {
            std::ofstream(target) << "unchanged";
            ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
        } else if (c.before != nullptr && std::string(c.before) == "@temp") {
            std::ofstream(target) << "unchanged";
            const std::string temporary = std::string(dir) + "/LTMP." + std::to_string(getpid());
            ASSERT_EQ(link(target.c_str(), temporary.c_str()), 0);
        } else if (c.before != nullptr) {
            std::ofstream(path, std::ios::binary) << c.text;
        }
        const LockFileClaim claim = ClaimLockFile(dir, "ttyUSB7");
        EXPECT_EQ(claim.holder, c.holder);
        if (c.holder == 0) {
            EXPECT_EQ(claim.path, path);
            EXPECT_EQ(ReadAll(path), Hdb(getpid()));
            struct stat st {};
            ASSERT_EQ(stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0644u);
            ReleaseLockFile(claim.path);
            EXPECT_NE(access(path.c_str(), F_OK), 0);
        } else {
            EXPECT_EQ(claim.path, "");
            ReleaseLockFile(path);  // not ours: stays as it was
            EXPECT_EQ(ReadAll(path), c.before[0] == '@' ? "unchanged" : c.text);
        }
        if (access(target.c_str(), F_OK) == 0) {
            EXPECT_EQ(ReadAll(target), "unchanged");
        }
        unlink(path.c_str());
        unlink(target.c_str());
        EXPECT_EQ(rmdir(dir), 0) << "a temporary file was left behind";
    }
}

// Another user's live process cannot be signalled (EPERM), yet it holds the port: a user's
// update must not take over root's terminal program.
TEST(LockFile, AnotherUsersLiveHolderKeepsThePort) {
    char dir[] = "/tmp/fwburn-lck-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ASSERT_EQ(chmod(dir, 01777), 0);
    const std::string path = std::string(dir) + "/LCK..ttyUSB7";
    const int otherUser = geteuid() == 0 ? getpid() : 1;  // as root, the child drops to nobody
    std::ofstream(path) << Hdb(otherUser);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(2);
        }
        _exit(ClaimLockFile(dir, "ttyUSB7").holder == otherUser ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadAll(path), Hdb(otherUser));
    unlink(path.c_str());
    rmdir(dir);
}

// The workers of several controllers open their ports at once, each claiming its own file: none
// may lose its file to another's making of the same one (no file, and the port goes unguarded).
TEST(LockFile, ClaimsOfSeveralPortsAtOnceEachGetTheirFile) {
    char dir[] = "/tmp/fwburn-lck-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    constexpr int kPorts = 4;
    constexpr int kRounds = 300;
    std::vector<int> unclaimed(kPorts, 0);
    std::vector<std::thread> workers;
    for (int port = 0; port < kPorts; ++port) {
        workers.emplace_back([&, port] {
            const std::string name = "ttyUSB" + std::to_string(port);
            for (int round = 0; round < kRounds; ++round) {
                const LockFileClaim claim = ClaimLockFile(dir, name);
                unclaimed[port] += claim.path.empty() ? 1 : 0;
                ReleaseLockFile(claim.path);
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(unclaimed, std::vector<int>(kPorts, 0));
    EXPECT_EQ(rmdir(dir), 0) << "a file was left behind";
}

TEST(LockFile, NowhereToPutItLeavesTheClaimEmpty) {
    const LockFileClaim claim = ClaimLockFile("/nonexistent-fwburn-dir", "ttyS0");
    EXPECT_EQ(claim.holder, 0);
    EXPECT_EQ(claim.path, "");
}

// Through the open of a real port: the file a terminal program left keeps the update out, ours is
// there while the port is open and goes with the close.
TEST(LockFile, TheOpenOfAPortHonoursAndLeavesTheFile) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    char* resolved = realpath(pty.slavePath().c_str(), nullptr);
    ASSERT_NE(resolved, nullptr);
    const std::string name = std::strrchr(resolved, '/') + 1;
    std::free(resolved);
    const std::string path = std::string(kLockFileDirectory) + "/LCK.." + name;
    if (access(kLockFileDirectory, W_OK) != 0) {
        GTEST_SKIP() << kLockFileDirectory << " is not writable here";
    }
    // A terminal program that keeps to the file alone, neither flock() nor TIOCEXCL: named as the
    // holders of those are.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        prctl(PR_SET_NAME, "term\033");
        [[maybe_unused]] const ssize_t written = write(ready[1], "", 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    std::ofstream(path) << Hdb(holder);
    OpenFailure refused;
    EXPECT_FALSE(OpenSerialPort(pty.slavePath(), &refused));
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(refused.reason, OpenError::kBusy);
    EXPECT_EQ(refused.message, pty.slavePath() + ": in use by another program (term\033, process " +
                                   std::to_string(holder) + ", lock file " + path + ")");
    EXPECT_EQ(ReadAll(path), Hdb(holder));
    unlink(path.c_str());
    // One that cannot be read (a planted link) may name a live holder: the port stays refused.
    ASSERT_EQ(symlink("/nonexistent-fwburn-holder", path.c_str()), 0);
    EXPECT_FALSE(OpenSerialPort(pty.slavePath(), &refused));
    EXPECT_EQ(refused.message,
              pty.slavePath() + ": in use by another program (lock file " + path + ")");
    unlink(path.c_str());

    std::unique_ptr<PosixDevice> device = OpenSerialPort(pty.slavePath());
    ASSERT_TRUE(device);
    EXPECT_EQ(ReadAll(path), Hdb(getpid()));
    device.reset();
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace fwburn::posix::test

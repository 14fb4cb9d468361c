// The update lock: names, identities, and what a hostile directory holds in place of a lock file.
// Locks are taken in a scratch directory; a second PortLock in this process opens the file anew,
// which flock() treats like another process.
#include "ui/console/posix/port_lock.hpp"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/flock_heir.hpp"

namespace fwburn::console {
namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

class PortLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char path[] = "/tmp/fwburn-lock-test-XXXXXX";
        ASSERT_NE(mkdtemp(path), nullptr);
        dir = path;
        ASSERT_EQ(chmod(path, 01777), 0);  // as /run/lock and /tmp are
    }
    void TearDown() override { ASSERT_EQ(std::system(("rm -rf " + dir).c_str()), 0); }
    std::string LockPath(const std::string& identity) const {
        return dir + "/" + LockFileName(identity);
    }

    std::string dir;
    const std::string port = "/dev/ttyUSB7";
};

TEST(LockFileNameTest, NamesThePortAndNeverTwoIdentitiesAlike) {
    const std::pair<const char*, const char*> cases[] = {
        {"/dev/ttyUSB0", "fwburn-_dev_ttyUSB0.lock"},
        {"/dev/pts/3", "fwburn-_dev_pts_3.lock"},
        {"usb-3b9e-0001", "fwburn-usb-3b9e-0001.lock"},
        {"/dev/tty_1", "fwburn-_dev_tty%5F1.lock"},  // not the lock of /dev/tty/1
        {"/dev/tty/1", "fwburn-_dev_tty_1.lock"},
        {"/tmp/a b%\n", "fwburn-_tmp_a%20b%25%0A.lock"},
        {"/dev/serial/by-id/usb-Korvan_PLC+1.0-if00",
         "fwburn-_dev_serial_by-id_usb-Korvan%5FPLC+1.0-if00.lock"},
    };
    for (const auto& [identity, name] : cases) {
        EXPECT_EQ(LockFileName(identity), name) << identity;
    }
}

TEST(LockFileNameTest, ALongPathStillFitsADirectoryEntryAndStaysDistinct) {
    const std::string base = "/dev/" + std::string(300, 'x');
    const std::string a = LockFileName(base + "a");
    const std::string b = LockFileName(base + "b");
    EXPECT_LE(a.size(), 255u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind("fwburn-_dev_xxx", 0), 0u);
}

TEST_F(PortLockTest, IdentityFollowsLinksToTheDeviceAndMakesPathsAbsolute) {
    const std::string target = dir + "/ttyTARGET";
    Write(target, "");
    ASSERT_EQ(symlink(target.c_str(), (dir + "/by-id").c_str()), 0);
    EXPECT_EQ(PortIdentity(dir + "/by-id"), target);
    EXPECT_EQ(PortIdentity(target), target);
    EXPECT_EQ(PortIdentity("/dev/ttyNOPE9"), "/dev/ttyNOPE9");  // missing: as given
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(PortIdentity("ttyNOPE9"), std::string(cwd) + "/ttyNOPE9");
}

TEST_F(PortLockTest, TheHolderWritesItsPidAndASecondTakerIsToldIt) {
    PortLock first;
    ASSERT_EQ(first.Take({port}, {dir}), PortLock::Status::kHeld) << first.why();
    EXPECT_EQ(first.files(), std::vector<std::string>{LockPath(port)});
    EXPECT_EQ(std::atoi(Read(LockPath(port)).c_str()), getpid());
    struct stat st {};
    ASSERT_EQ(stat(LockPath(port).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);  // others' updaters can open it to test the lock

    PortLock second;
    EXPECT_EQ(second.Take({port}, {dir}), PortLock::Status::kBusy);
    EXPECT_EQ(second.holder(), getpid());
    EXPECT_EQ(second.busyFile(), LockPath(port));
    EXPECT_EQ(second.busyIdentity(), port);
    EXPECT_TRUE(second.files().empty());

    first.Release();
    EXPECT_EQ(access(LockPath(port).c_str(), F_OK), -1);  // removed with the lock
    EXPECT_EQ(second.Take({port}, {dir}), PortLock::Status::kHeld) << second.why();
}

// Runs of several controllers share the USB identity; a run that discovers its controller, and
// would take any, needs it alone.
TEST_F(PortLockTest, SharedHoldersKeepOutOnlyAnExclusiveTaker) {
    const std::string usb = UsbControllerIdentity();
    using Mode = PortLock::Mode;
    PortLock fleetA;
    PortLock fleetB;
    ASSERT_EQ(fleetA.Take({usb}, {dir}, Mode::kShared), PortLock::Status::kHeld) << fleetA.why();
    ASSERT_EQ(fleetB.Take({usb}, {dir}, Mode::kShared), PortLock::Status::kHeld) << fleetB.why();
    PortLock single;
    EXPECT_EQ(single.Take({usb}, {dir}), PortLock::Status::kBusy);
    EXPECT_EQ(single.holder(), getpid());
    EXPECT_EQ(single.busyFile(), LockPath(usb));

    // The first shared holder to go leaves the file to the other, still keeping the single out.
    fleetA.Release();
    EXPECT_EQ(access(LockPath(usb).c_str(), F_OK), 0);
    EXPECT_EQ(single.Take({usb}, {dir}), PortLock::Status::kBusy);
    fleetB.Release();
    EXPECT_EQ(access(LockPath(usb).c_str(), F_OK), -1);  // the last one removes it
    ASSERT_EQ(single.Take({usb}, {dir}), PortLock::Status::kHeld) << single.why();

    // And the other way round: a shared taker is kept out while the single run holds it.
    EXPECT_EQ(fleetA.Take({usb}, {dir}, Mode::kShared), PortLock::Status::kBusy);
    EXPECT_EQ(fleetA.busyIdentity(), usb);
    single.Release();
    EXPECT_EQ(fleetA.Take({usb}, {dir}, Mode::kShared), PortLock::Status::kHeld);
}

TEST_F(PortLockTest, AllOrNone) {
    PortLock other;
    ASSERT_EQ(other.Take({"/dev/ttyB"}, {dir}), PortLock::Status::kHeld);
    PortLock both;
    EXPECT_EQ(both.Take({"/dev/ttyA", "/dev/ttyB"}, {dir}), PortLock::Status::kBusy);
    EXPECT_EQ(both.busyIdentity(), "/dev/ttyB");
    // The first one it took is free again.
    PortLock a;
    EXPECT_EQ(a.Take({"/dev/ttyA"}, {dir}), PortLock::Status::kHeld);
}

// A file removed under its holder (a cleaner of the directory) and made anew by the next updater
// is that one's: the first one's release leaves it, or a third updater would get in.
TEST_F(PortLockTest, AReleaseLeavesTheFileThatReplacedItsOwn) {
    PortLock first;
    ASSERT_EQ(first.Take({port}, {dir}), PortLock::Status::kHeld) << first.why();
    ASSERT_EQ(unlink(LockPath(port).c_str()), 0);
    PortLock second;
    ASSERT_EQ(second.Take({port}, {dir}), PortLock::Status::kHeld) << second.why();
    first.Release();
    PortLock third;
    EXPECT_EQ(third.Take({port}, {dir}), PortLock::Status::kBusy);
}

TEST_F(PortLockTest, AnotherProcessHoldingItIsNamedAndItsDeathFreesIt) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PortLock lock;
        const bool held = lock.Take({port}, {dir}) == PortLock::Status::kHeld;
        static_cast<void>(write(ready[1], held ? "y" : "n", 1));
        pause();
        _exit(0);
    }
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    PortLock lock;
    EXPECT_EQ(lock.Take({port}, {dir}), PortLock::Status::kBusy);
    EXPECT_EQ(lock.holder(), child);

    kill(child, SIGKILL);  // no Release(): the file stays, the kernel drops the lock
    waitpid(child, nullptr, 0);
    EXPECT_EQ(access(LockPath(port).c_str(), F_OK), 0);
    EXPECT_EQ(lock.Take({port}, {dir}), PortLock::Status::kHeld) << lock.why();
    EXPECT_EQ(std::atoi(Read(LockPath(port).c_str()).c_str()), getpid());
    close(ready[0]);
    close(ready[1]);
}

// An updater that forked and let go of its descriptor, leaving the lock to its child: the pid
// /proc/locks lists, and the one it wrote, are the taker's, which may go to anyone once it ends.
TEST_F(PortLockTest, ATakerWithoutTheFileOpenIsPassedOverForItsHeir) {
    const fwburn::test::FlockHeir taker(LockPath(port), true);
    ASSERT_GT(taker.heir(), 0);
    PortLock lock;
    EXPECT_EQ(lock.Take({port}, {dir}), PortLock::Status::kBusy);
    EXPECT_EQ(lock.holder(), taker.heir());
}

// What may stand where the lock file goes: each is refused, and what it points at is untouched.
TEST_F(PortLockTest, NeverWritesThroughWhatWasPlantedAsTheLockFile) {
    const std::string victim = dir + "/victim";
    struct Plant {
        const char* what;
        std::function<void(const std::string& path)> make;
        const char* why;
    };
    const Plant plants[] = {
        {"symbolic link to a file",
         [&](const std::string& path) { ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0); },
         "a symbolic link, not a lock file"},
        {"dangling symbolic link",
         [&](const std::string& path) {
             ASSERT_EQ(symlink((dir + "/made-by-us").c_str(), path.c_str()), 0);
         },
         "a symbolic link, not a lock file"},
        {"hard link to a file",
         [&](const std::string& path) { ASSERT_EQ(link(victim.c_str(), path.c_str()), 0); },
         "not a plain file with a single link"},
        {"FIFO", [&](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0666), 0); },
         "not a plain file with a single link"},
        {"directory", [&](const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0777), 0); },
         "Is a directory"},
    };
    for (const Plant& plant : plants) {
        SCOPED_TRACE(plant.what);
        Write(victim, "keep me\n");
        const std::string path = LockPath(port);
        plant.make(path);
        PortLock lock;
        EXPECT_EQ(lock.Take({port}, {dir}), PortLock::Status::kFailed);
        EXPECT_EQ(lock.why(), path + ": " + plant.why);
        EXPECT_EQ(Read(victim), "keep me\n");
        EXPECT_EQ(access((dir + "/made-by-us").c_str(), F_OK), -1);
        ASSERT_EQ(std::system(("rm -rf '" + path + "'").c_str()), 0);
    }
}

TEST_F(PortLockTest, AnExistingFileIsLockedWithoutBeingTruncated) {
    const std::string path = LockPath(port);
    Write(path, "  99999999999999999999 and more text after it\n");
    const off_t before = static_cast<off_t>(Read(path).size());
    PortLock lock;
    ASSERT_EQ(lock.Take({port}, {dir}), PortLock::Status::kHeld) << lock.why();
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, before);
    PortLock second;
    EXPECT_EQ(second.Take({port}, {dir}), PortLock::Status::kBusy);
    EXPECT_EQ(second.holder(), getpid());
}

// Another user's files in the shared directory: one an updater left (readable by all) is locked
// read-only and left in place, one held is seen as busy, and one this user may not even read is
// refused naming its owner. Run by root as nobody in a child.
TEST_F(PortLockTest, AnotherUsersLockFileIsLockedReadOnlyOrRefusedNamingItsOwner) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a taker as another user";
    }
    constexpr uid_t kNobody = 65534;
    const std::string path = LockPath(port);
    // (the file's owner and mode, held by this process, the status of nobody's taker, its why)
    const struct {
        uid_t owner;
        mode_t mode;
        bool held;
        PortLock::Status status;
        const char* why;
    } cases[] = {
        {0, 0644, false, PortLock::Status::kHeld, ""},
        {0, 0644, true, PortLock::Status::kBusy, ""},
        {1, 0600, false, PortLock::Status::kFailed,
         "Permission denied; a file of user daemon (uid 1) with mode 0600, which no updater makes: "
         "its owner or root must remove it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.owner) + " " + std::to_string(c.held));
        Write(path, "       123\n");
        ASSERT_EQ(chown(path.c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        PortLock mine;
        if (c.held) {
            ASSERT_EQ(mine.Take({port}, {dir}), PortLock::Status::kHeld) << mine.why();
        }
        const std::string before = Read(path);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
                _exit(10);
            }
            PortLock lock;
            const PortLock::Status status = lock.Take({port}, {dir});
            const bool said =
                std::string(c.why).empty() ? lock.why().empty() : lock.why() == path + ": " + c.why;
            lock.Release();
            _exit(status != c.status                       ? 11
                  : !said                                  ? 12
                  : (c.held && lock.holder() != getppid()) ? 13
                                                           : 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
        EXPECT_EQ(Read(path), before);  // never written through, nor removed, by nobody
        mine.Release();
        unlink(path.c_str());
    }
}

// The place is the machine's choice: /run/lock where it is shared by all with the sticky bit,
// else /tmp; a place that cannot be used is refused, never swapped for one others do not see.
TEST_F(PortLockTest, LocksInTheFirstDirectorySharedByAllOrRefusesNamingIt) {
    struct Place {
        const char* what;
        int runMode;  // -1: missing, -2: a plain file
        int tmpMode;
        const char* where;  // "run", "tmp", or "" for a refusal
        const char* why;    // the start of the refusal after "<tmp>: "
    };
    const Place places[] = {
        {"both shared", 01777, 01777, "run", ""},
        {"run/lock root's alone", 0755, 01777, "tmp", ""},
        {"run/lock without the sticky bit", 0777, 01777, "tmp", ""},
        {"run/lock not writable by others", 01775, 01777, "tmp", ""},
        {"run/lock missing", -1, 01777, "tmp", ""},
        {"run/lock a file", -2, 01777, "tmp", ""},
        {"tmp unusable but not needed", 01777, 0700, "run", ""},
        {"neither shared", 0755, 0755, "", "mode 0755; "},
        {"tmp without the sticky bit", -1, 0777, "", "mode 0777; "},
        {"neither there", -1, -1, "", "No such file or directory; "},
        {"tmp a file", -1, -2, "", "not a directory; "},
    };
    for (const Place& p : places) {
        SCOPED_TRACE(p.what);
        const std::string run = dir + "/run";
        const std::string tmp = dir + "/tmp";
        for (const auto& [path, mode] : {std::pair{run, p.runMode}, std::pair{tmp, p.tmpMode}}) {
            if (mode == -2) {
                Write(path, "");
            } else if (mode >= 0) {
                ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
                ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(mode)), 0);
            }
        }
        PortLock lock;
        const PortLock::Status status = lock.Take({port}, {run, tmp});
        if (std::string(p.where).empty()) {
            EXPECT_EQ(status, PortLock::Status::kFailed);
            EXPECT_EQ(lock.why().rfind(tmp + ": " + p.why, 0), 0u) << lock.why();
            EXPECT_NE(lock.why().find("(" + run + " is not writable by all"), std::string::npos)
                << lock.why();
        } else {
            const std::string place = p.where == std::string("run") ? run : tmp;
            ASSERT_EQ(status, PortLock::Status::kHeld) << lock.why();
            EXPECT_EQ(lock.files(), std::vector<std::string>{place + "/" + LockFileName(port)});
        }
        lock.Release();
        ASSERT_EQ(std::system(("rm -rf '" + run + "' '" + tmp + "'").c_str()), 0);
    }
}

// Whoever runs it and wherever: the environment has no say in where the locks are.
TEST(LockDirectoriesTest, TheSameWithAndWithoutAUsersRuntimeDirectory) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string keep = saved != nullptr ? saved : "";
    unsetenv("XDG_RUNTIME_DIR");
    const std::vector<std::string> without = LockDirectories();
    setenv("XDG_RUNTIME_DIR", "/tmp", 1);
    EXPECT_EQ(LockDirectories(), without);
    if (saved != nullptr) {
        setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
    }
}

}  // namespace
}  // namespace fwburn::console

// --extract-image's file replacement on every kind of target, on failed and short writes, under
// signals and on files of others: the target is replaced whole or left as it was, nothing else is
// touched, and no temporary file stays behind. tests/pty/files_test.py runs the program itself
// for what only the program decides: the image it writes, its words and exit status, SIGXFSZ.
#include "ui/console/posix/extract_image.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_name.hpp"

namespace fwburn::console {
namespace {

namespace fs = std::filesystem;

class Scratch {
  public:
    Scratch() {
        char name[] = "/tmp/fwburn-extract-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~Scratch() { fs::remove_all(path_); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(path_)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

  private:
    std::string path_;
};

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Write(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary) << text;
    chmod(path.c_str(), mode);
}

struct stat Lstat(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st;
}

const std::vector<uint8_t>& Data() {
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> d(3 * 1024 * 1024 + 17);  // more than one write's chunk
        for (size_t i = 0; i < d.size(); ++i) {
            d[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
        }
        return d;
    }();
    return data;
}

std::string DataText() {
    return std::string(Data().begin(), Data().end());
}

bool Replace(const std::string& file, std::string& error, WriteFunction write = nullptr) {
    return ReplaceFile(file, Data().data(), Data().size(), error, write);
}

// Sets the umask for one test.
class Umask {
  public:
    explicit Umask(mode_t mask) : old_(umask(mask)) {}
    ~Umask() { umask(old_); }

  private:
    mode_t old_;
};

// ---- the target, by kind

struct TargetCase {
    const char* name;
    // Makes the target "t" in the scratch directory (and whatever it points to).
    std::function<void(const Scratch&)> make;
    const char* refusal;  // nullptr: replaced
    // What must hold afterwards, beside the directory's entries.
    std::function<void(const Scratch&)> check;
};

void MakeSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

const TargetCase kTargets[] = {
    {"missing", [](const Scratch&) {}, nullptr,
     [](const Scratch& s) {
         EXPECT_EQ(Read(s / "t"), DataText());
         EXPECT_EQ(Lstat(s / "t").st_mode & 07777, 0640u);  // 0666 less the umask
     }},
    {"regular 0600", [](const Scratch& s) { Write(s / "t", "old", 0600); }, nullptr,
     [](const Scratch& s) {
         EXPECT_EQ(Read(s / "t"), DataText());
         EXPECT_EQ(Lstat(s / "t").st_mode & 07777, 0600u);
     }},
    {"regular 0751", [](const Scratch& s) { Write(s / "t", "old", 0751); }, nullptr,
     [](const Scratch& s) { EXPECT_EQ(Lstat(s / "t").st_mode & 07777, 0751u); }},
    {"symlink to a regular file",
     [](const Scratch& s) {
         Write(s / "other", "theirs");
         symlink("other", (s / "t").c_str());
     },
     "a symbolic link",
     [](const Scratch& s) {
         EXPECT_TRUE(S_ISLNK(Lstat(s / "t").st_mode));
         EXPECT_EQ(Read(s / "other"), "theirs");
     }},
    {"dangling symlink", [](const Scratch& s) { symlink("nowhere", (s / "t").c_str()); },
     "a symbolic link", [](const Scratch& s) { EXPECT_TRUE(S_ISLNK(Lstat(s / "t").st_mode)); }},
    {"fifo", [](const Scratch& s) { mkfifo((s / "t").c_str(), 0600); }, "not a regular file",
     [](const Scratch& s) { EXPECT_TRUE(S_ISFIFO(Lstat(s / "t").st_mode)); }},
    {"directory", [](const Scratch& s) { mkdir((s / "t").c_str(), 0700); }, "not a regular file",
     [](const Scratch& s) { EXPECT_TRUE(S_ISDIR(Lstat(s / "t").st_mode)); }},
    {"socket", [](const Scratch& s) { MakeSocket(s / "t"); }, "not a regular file",
     [](const Scratch& s) { EXPECT_TRUE(S_ISSOCK(Lstat(s / "t").st_mode)); }},
    {"character device",
     [](const Scratch& s) {
         if (mknod((s / "t").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
             GTEST_SKIP() << "no device nodes for this user: " << std::strerror(errno);
         }
     },
     "not a regular file", [](const Scratch& s) { EXPECT_TRUE(S_ISCHR(Lstat(s / "t").st_mode)); }},
};

class ReplaceTarget : public ::testing::TestWithParam<TargetCase> {};

TEST_P(ReplaceTarget, IsReplacedWholeOrLeftAsItWas) {
    const TargetCase& c = GetParam();
    Umask mask(027);
    Scratch s;
    c.make(s);
    if (IsSkipped()) {
        return;
    }
    const std::set<std::string> before = [&] {
        std::set<std::string> names = s.Entries();
        names.insert("t");
        return names;
    }();
    std::string error;
    const bool replaced = Replace(s / "t", error);
    if (c.refusal == nullptr) {
        EXPECT_TRUE(replaced) << error;
    } else {
        EXPECT_FALSE(replaced);
        EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
    }
    EXPECT_EQ(s.Entries(), before);  // nothing left beside it, nothing else gone
    c.check(s);
}

INSTANTIATE_TEST_SUITE_P(Console, ReplaceTarget, ::testing::ValuesIn(kTargets),
                         [](const auto& p) { return test::TestName(p.param.name); });

TEST(ReplaceFile, RefusesANameThatEndsInASlash) {
    Scratch s;
    std::string error;
    EXPECT_FALSE(Replace(s.path() + "/", error));
    EXPECT_FALSE(Replace(s / "missing/", error));
    EXPECT_EQ(error, "names a directory");
    EXPECT_TRUE(s.Entries().empty());
}

TEST(ReplaceFile, TakesTheLongestLegalName) {
    // The temporary's name is its own, not the target's with a suffix that would overrun it.
    Scratch s;
    const std::string name(NAME_MAX, 'n');
    std::string error;
    ASSERT_TRUE(Replace(s / name, error)) << error;
    EXPECT_EQ(Read(s / name), DataText());
    EXPECT_EQ(s.Entries(), std::set<std::string>{name});
}

TEST(ReplaceFile, NeedsTheDirectory) {
    Scratch s;
    std::string error;
    EXPECT_FALSE(Replace(s / "no/t", error));
    EXPECT_EQ(error, std::strerror(ENOENT));
}

// ---- writes that fail or come up short

int gWriteCalls = 0;

ssize_t FailsAfterOneChunk(int fd, const void* data, size_t length) {
    if (gWriteCalls++ == 0) {
        return write(fd, data, length);
    }
    errno = ENOSPC;
    return -1;
}

ssize_t WritesNothing(int, const void*, size_t) {
    return 0;
}

ssize_t SevenBytesAtATime(int fd, const void* data, size_t length) {
    if (gWriteCalls++ % 3 == 1) {
        errno = EINTR;
        return -1;
    }
    return write(fd, data, length < 7 ? length : 7);
}

TEST(ReplaceFile, AFailedWriteLeavesTheOldFileAndNothingElse) {
    for (WriteFunction failing : {FailsAfterOneChunk, WritesNothing}) {
        Scratch s;
        Write(s / "t", "old", 0600);
        gWriteCalls = 0;
        std::string error;
        EXPECT_FALSE(Replace(s / "t", error, failing));
        EXPECT_EQ(error, std::strerror(ENOSPC));
        EXPECT_EQ(Read(s / "t"), "old");
        EXPECT_EQ(s.Entries(), std::set<std::string>{"t"});
    }
}

TEST(ReplaceFile, ShortAndInterruptedWritesGoOnToTheEnd) {
    Scratch s;
    gWriteCalls = 0;
    std::string error;
    const std::vector<uint8_t> small(1000, 0x5A);
    ASSERT_TRUE(ReplaceFile(s / "t", small.data(), small.size(), error, SevenBytesAtATime))
        << error;
    EXPECT_EQ(Read(s / "t"), std::string(1000, 0x5A));
}

// Runs `body` in a child process; its wait status.
int InChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

int gSignal = 0;

ssize_t SignalledMidway(int fd, const void* data, size_t length) {
    const ssize_t n = write(fd, data, length / 2);
    raise(gSignal);
    return n;
}

struct SignalCase {
    int signo;
    bool blockedByCaller;  // the console blocks its signals for the descriptor that reads them
};

class ReplaceUnderSignal : public ::testing::TestWithParam<SignalCase> {};

TEST_P(ReplaceUnderSignal, RemovesTheTemporaryAndEndsByTheSignal) {
    const SignalCase c = GetParam();
    Scratch s;
    Write(s / "t", "old", 0600);
    gSignal = c.signo;
    const int status = InChild([&] {
        signal(c.signo, SIG_DFL);
        if (c.blockedByCaller) {
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, c.signo);
            sigprocmask(SIG_BLOCK, &set, nullptr);
        }
        std::string error;
        Replace(s / "t", error, SignalledMidway);
        return 0;
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "exited " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), c.signo);
    EXPECT_EQ(Read(s / "t"), "old");
    EXPECT_EQ(s.Entries(), std::set<std::string>{"t"});
}

INSTANTIATE_TEST_SUITE_P(Console, ReplaceUnderSignal,
                         ::testing::Values(SignalCase{SIGINT, false}, SignalCase{SIGTERM, false},
                                           SignalCase{SIGHUP, true}, SignalCase{SIGTERM, true},
                                           SignalCase{SIGUSR1, false}),
                         [](const auto& p) {
                             return std::to_string(p.param.signo) +
                                    (p.param.blockedByCaller ? "_blocked" : "");
                         });

// A signal the program was started ignoring (nohup's SIGHUP, a background job's SIGINT) stays
// ignored while the file is replaced: the replacement goes on to its end.
ssize_t SignalledFirst(int fd, const void* data, size_t length) {
    raise(gSignal);
    return write(fd, data, length);
}

TEST(ReplaceFile, ASignalTheCallerIgnoresStaysIgnored) {
    for (const int signo : {SIGHUP, SIGINT}) {
        Scratch s;
        Write(s / "t", "old", 0600);
        gSignal = signo;
        const int status = InChild([&] {
            signal(signo, SIG_IGN);
            std::string error;
            const bool replaced = Replace(s / "t", error, SignalledFirst);
            struct sigaction after {};
            sigaction(signo, nullptr, &after);
            return replaced && after.sa_handler == SIG_IGN ? 0 : 1;
        });
        ASSERT_TRUE(WIFEXITED(status)) << signo << " ended it";
        EXPECT_EQ(WEXITSTATUS(status), 0) << signo;
        EXPECT_EQ(Read(s / "t"), DataText()) << signo;
        EXPECT_EQ(s.Entries(), std::set<std::string>{"t"});
    }
}

// ---- files of others

constexpr uid_t kNobody = 65534;

TEST(ReplaceFile, RefusesAFileItMayNotWrite) {
    Scratch s;
    Write(s / "t", "theirs", geteuid() == 0 ? 0644 : 0444);
    chmod(s.path().c_str(), 0777);  // the directory is writable: only the file's mode says no
    const int status = InChild([&] {
        if (geteuid() == 0 && setuid(kNobody) != 0) {
            return 2;
        }
        std::string error;
        return !Replace(s / "t", error) && error == std::strerror(EACCES) ? 0 : 1;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Read(s / "t"), "theirs");
    EXPECT_EQ(s.Entries(), std::set<std::string>{"t"});
}

TEST(ReplaceFile, KeepsTheOwner) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can give a file to another user";
    }
    Scratch s;
    Write(s / "t", "old", 0640);
    ASSERT_EQ(chown((s / "t").c_str(), kNobody, kNobody), 0);
    std::string error;
    ASSERT_TRUE(Replace(s / "t", error)) << error;
    const struct stat st = Lstat(s / "t");
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(st.st_gid, kNobody);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace fwburn::console

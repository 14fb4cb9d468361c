// Each signal that would end the process ends an update the same way: read from the descriptor
// the main loop polls, never acted on by default. Each case runs in a child process of its own.
#include "ui/console/posix/signals.hpp"

#include <poll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

namespace fwburn::console {
namespace {

struct SignalCase {
    int signo;
    const char* name;
    int status;
};

const SignalCase kCases[] = {
    {SIGINT, "SIGINT", 130},   {SIGTERM, "SIGTERM", 143},     {SIGHUP, "SIGHUP", 129},
    {SIGQUIT, "SIGQUIT", 131}, {SIGUSR1, "SIGUSR1", 138},     {SIGUSR2, "SIGUSR2", 140},
    {SIGALRM, "SIGALRM", 142}, {SIGVTALRM, "SIGVTALRM", 154}, {SIGPROF, "SIGPROF", 155},
    {SIGXCPU, "SIGXCPU", 152}, {SIGXFSZ, "SIGXFSZ", 153},     {SIGPIPE, "SIGPIPE", 141},
    {SIGPWR, "SIGPWR", 158},   {SIGIO, "SIGIO", 157},         {SIGSTKFLT, "SIGSTKFLT", 144},
    {SIGSYS, "SIGSYS", 159},   {SIGABRT, "SIGABRT", 134},
};

// Numbered by the C library at run time: 34 to 64 with glibc.
const SignalCase kRealTime[] = {
    {SIGRTMIN, "SIGRTMIN", 162},         {SIGRTMIN + 1, "SIGRTMIN+1", 163},
    {SIGRTMIN + 15, "SIGRTMIN+15", 177}, {SIGRTMAX - 14, "SIGRTMAX-14", 178},
    {SIGRTMAX, "SIGRTMAX", 192},
};

class EndingSignalTest : public ::testing::TestWithParam<SignalCase> {};

TEST_P(EndingSignalTest, IsNamedAndGivesItsStatus) {
    EXPECT_STREQ(EndingSignalName(GetParam().signo), GetParam().name);
    EXPECT_EQ(ExitStatusForSignal(GetParam().signo), GetParam().status);
    const sigset_t set = EndingSignals();
    EXPECT_EQ(sigismember(&set, GetParam().signo), 1);
}

// Sent to the whole process while another thread runs, it is read from the descriptor.
TEST_P(EndingSignalTest, IsReadFromTheDescriptorInsteadOfEndingTheProcess) {
    const pid_t pid = fork();
    if (pid == 0) {
        signal(GetParam().signo, SIG_DFL);  // not as a shell's background command starts it
        const int fd = TakeEndingSignals();
        if (fd < 0) {
            _exit(2);
        }
        kill(getpid(), GetParam().signo);
        pollfd p{fd, POLLIN, 0};
        signalfd_siginfo info{};
        const bool read_it = poll(&p, 1, 2000) == 1 && read(fd, &info, sizeof info) == sizeof info;
        _exit(read_it && static_cast<int>(info.ssi_signo) == GetParam().signo ? 0 : 3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

std::string CaseName(const ::testing::TestParamInfo<SignalCase>& row) {
    std::string name = row.param.name;
    for (char& c : name) {
        c = c == '+' ? 'p' : c == '-' ? 'm' : c;  // SIGRTMINp1
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(All, EndingSignalTest, ::testing::ValuesIn(kCases), CaseName);
INSTANTIATE_TEST_SUITE_P(RealTime, EndingSignalTest, ::testing::ValuesIn(kRealTime), CaseName);

// abort() still ends the process with its SIGABRT, whichever thread calls it: a failed assertion
// must not wait for a main loop that may never read the descriptor again.
TEST(EndingSignalsTest, AbortStillEndsTheProcess) {
    for (const bool ownThread : {false, true}) {
        const pid_t pid = fork();
        if (pid == 0) {
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            if (TakeEndingSignals() < 0) {
                _exit(2);
            }
            if (ownThread) {
                // As the output's writer threads start: every signal blocked.
                sigset_t all;
                sigfillset(&all);
                pthread_sigmask(SIG_BLOCK, &all, nullptr);
                std::thread([] { std::abort(); }).join();
            } else {
                std::abort();
            }
            _exit(3);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << ownThread << " exited " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), SIGABRT) << ownThread;
    }
}

// Started ignoring it (nohup, a script's background command), the program keeps ignoring it:
// only the SIGTERM sent after it is read.
TEST(EndingSignalsTest, OneStartedIgnoredStaysIgnored) {
    for (const int signo : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE}) {
        const pid_t pid = fork();
        if (pid == 0) {
            signal(signo, SIG_IGN);
            signal(SIGTERM, SIG_DFL);
            const int fd = TakeEndingSignals();
            if (fd < 0) {
                _exit(2);
            }
            kill(getpid(), signo);
            kill(getpid(), SIGTERM);
            pollfd p{fd, POLLIN, 0};
            signalfd_siginfo info{};
            if (poll(&p, 1, 2000) != 1 || read(fd, &info, sizeof info) != sizeof info) {
                _exit(3);
            }
            _exit(static_cast<int>(info.ssi_signo) == SIGTERM && poll(&p, 1, 0) == 0 ? 0 : 4);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << signo << " ended it: " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0) << signo;
    }
}

// A SIGCONT that comes after the stop key was read, while the screen is put right, has continued
// the program before its stop: the stop must not follow and leave it stopped for good.
TEST(StopKeyTest, AContinueBeforeTheStopUndoesIt) {
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);  // a group of its own, not orphaned: a stop would stop it
        if (TakeStopKey() < 0) {
            _exit(2);
        }
        kill(getpid(), SIGCONT);
        StopAsTheKeyWould();
        _exit(0);
    }
    int status = 0;
    pid_t seen = 0;
    for (int i = 0; i < 300 && (seen = waitpid(pid, &status, WUNTRACED | WNOHANG)) == 0; ++i) {
        usleep(10000);
    }
    const bool stopped = seen == pid && WIFSTOPPED(status);
    if (seen != pid || stopped) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    EXPECT_FALSE(stopped) << "stopped after the SIGCONT";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(EndingSignalsTest, JobControlAndOthersAreNotAmongThem) {
    const sigset_t set = EndingSignals();
    for (int signo : {SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT, SIGCHLD, SIGWINCH, SIGKILL, SIGSTOP}) {
        EXPECT_EQ(sigismember(&set, signo), 0) << signo;
    }
    EXPECT_STREQ(EndingSignalName(SIGWINCH), "a signal");
}

}  // namespace
}  // namespace fwburn::console

// Each signal that would end the process ends an update the same way: read from the descriptor
// the main loop polls, never acted on by default. Each case runs in a child process of its own.
#include "ui/console/posix/signals.hpp"

#include <poll.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

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

INSTANTIATE_TEST_SUITE_P(All, EndingSignalTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SignalCase>& row) {
                             return std::string(row.param.name);
                         });

TEST(EndingSignalsTest, JobControlAndOthersAreNotAmongThem) {
    const sigset_t set = EndingSignals();
    for (int signo : {SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT, SIGCHLD, SIGWINCH, SIGKILL, SIGSTOP}) {
        EXPECT_EQ(sigismember(&set, signo), 0) << signo;
    }
    EXPECT_STREQ(EndingSignalName(SIGWINCH), "a signal");
}

}  // namespace
}  // namespace fwburn::console

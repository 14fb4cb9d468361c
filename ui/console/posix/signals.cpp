#include "ui/console/posix/signals.hpp"

#include <sys/signalfd.h>
#include <unistd.h>

namespace fwburn::console {

namespace {

struct Named {
    int signo;
    const char* name;
};

// SIGABRT among them still lets abort() end the process: abort() unblocks it in the aborting
// thread (or raises it again with the default action). Only one sent from outside is read.
constexpr Named kEnding[] = {
    {SIGINT, "SIGINT"},   {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"},       {SIGQUIT, "SIGQUIT"},
    {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"}, {SIGALRM, "SIGALRM"},     {SIGVTALRM, "SIGVTALRM"},
    {SIGPROF, "SIGPROF"}, {SIGXCPU, "SIGXCPU"}, {SIGXFSZ, "SIGXFSZ"},     {SIGPIPE, "SIGPIPE"},
    {SIGPWR, "SIGPWR"},   {SIGIO, "SIGIO"},     {SIGSTKFLT, "SIGSTKFLT"}, {SIGSYS, "SIGSYS"},
    {SIGABRT, "SIGABRT"},
};

// The real-time signals, known at run time only (the C library keeps the lowest for itself), are
// named as the shell's `kill -l` names them: from SIGRTMIN up to the middle, then from SIGRTMAX
// down.
constexpr const char* kAboveMin[] = {"SIGRTMIN",    "SIGRTMIN+1",  "SIGRTMIN+2",  "SIGRTMIN+3",
                                     "SIGRTMIN+4",  "SIGRTMIN+5",  "SIGRTMIN+6",  "SIGRTMIN+7",
                                     "SIGRTMIN+8",  "SIGRTMIN+9",  "SIGRTMIN+10", "SIGRTMIN+11",
                                     "SIGRTMIN+12", "SIGRTMIN+13", "SIGRTMIN+14", "SIGRTMIN+15"};
constexpr const char* kBelowMax[] = {"SIGRTMAX",    "SIGRTMAX-1",  "SIGRTMAX-2",  "SIGRTMAX-3",
                                     "SIGRTMAX-4",  "SIGRTMAX-5",  "SIGRTMAX-6",  "SIGRTMAX-7",
                                     "SIGRTMAX-8",  "SIGRTMAX-9",  "SIGRTMAX-10", "SIGRTMAX-11",
                                     "SIGRTMAX-12", "SIGRTMAX-13", "SIGRTMAX-14", "SIGRTMAX-15"};

const char* RealTimeName(int signo) {
    const int aboveMin = signo - SIGRTMIN;
    const int belowMax = SIGRTMAX - signo;
    if (aboveMin < 0 || belowMax < 0) {
        return nullptr;
    }
    if (aboveMin <= (SIGRTMAX - SIGRTMIN) / 2 && aboveMin < 16) {
        return kAboveMin[aboveMin];
    }
    return belowMax < 16 ? kBelowMax[belowMax] : "a real-time signal";
}

}  // namespace

int BlockIntoSignalFd(const sigset_t& set) {
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &set, &before);
    const int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }
    return fd;
}

int TakeSignal(int fd) {
    signalfd_siginfo info{};
    return read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)
               ? static_cast<int>(info.ssi_signo)
               : 0;
}

sigset_t EndingSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const Named& s : kEnding) {
        sigaddset(&set, s.signo);
    }
    for (int signo = SIGRTMIN; signo <= SIGRTMAX; ++signo) {
        sigaddset(&set, signo);
    }
    return set;
}

int TakeEndingSignals() {
    // One the program was started ignoring stays ignored, as without the signalfd (blocked, it
    // would be queued and read): nohup ignores SIGHUP so that the update outlives the logout, and
    // a shell without job control ignores SIGINT and SIGQUIT in what it runs in the background.
    sigset_t set = EndingSignals();
    for (int signo = 1; signo < NSIG; ++signo) {
        struct sigaction current {};
        if (sigismember(&set, signo) == 1 && sigaction(signo, nullptr, &current) == 0 &&
            (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN) {
            sigdelset(&set, signo);
        }
    }
    return BlockIntoSignalFd(set);
}

int TakeStopKey() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    sigaddset(&set, SIGCONT);
    return BlockIntoSignalFd(set);
}

// Raised at this thread with SIGTSTP let through here alone: the whole process stops, and the
// shell reports it stopped by the key. An orphaned process group is not stopped: it goes on.
void StopAsTheKeyWould() {
    sigset_t continued;
    sigemptyset(&continued);
    sigaddset(&continued, SIGCONT);
    const timespec now{};
    // A SIGCONT sent after the key, while the screen was put right, has undone the stop already:
    // the stop raised now would discard it and leave the program stopped for good.
    if (sigtimedwait(&continued, nullptr, &now) == SIGCONT) {
        return;
    }
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(SIGTSTP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    sigtimedwait(&continued, nullptr, &now);  // the caller puts the screen right itself
}

const char* EndingSignalName(int signo) {
    for (const Named& s : kEnding) {
        if (s.signo == signo) {
            return s.name;
        }
    }
    const char* realTime = RealTimeName(signo);
    return realTime != nullptr ? realTime : "a signal";
}

int ExitStatusForSignal(int signo) {
    return 128 + signo;
}

}  // namespace fwburn::console

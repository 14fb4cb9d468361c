#include "ui/console/posix/signals.hpp"

#include <sys/signalfd.h>

namespace fwburn::console {

namespace {

struct Named {
    int signo;
    const char* name;
};

constexpr Named kEnding[] = {
    {SIGINT, "SIGINT"},   {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"},   {SIGQUIT, "SIGQUIT"},
    {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"}, {SIGALRM, "SIGALRM"}, {SIGVTALRM, "SIGVTALRM"},
    {SIGPROF, "SIGPROF"}, {SIGXCPU, "SIGXCPU"}, {SIGXFSZ, "SIGXFSZ"}, {SIGPIPE, "SIGPIPE"},
};

}  // namespace

sigset_t EndingSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const Named& s : kEnding) {
        sigaddset(&set, s.signo);
    }
    return set;
}

int TakeEndingSignals() {
    const sigset_t set = EndingSignals();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &set, &before);
    const int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);  // never blocked with nobody to read them
    }
    return fd;
}

int TakeStopKey() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    sigaddset(&set, SIGCONT);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &set, &before);
    const int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);  // the key stops it at once, as before
    }
    return fd;
}

// Raised at this thread with SIGTSTP let through here alone: the whole process stops, and the
// shell reports it stopped by the key. An orphaned process group is not stopped: it goes on.
void StopAsTheKeyWould() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(SIGTSTP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    sigset_t continued;
    sigemptyset(&continued);
    sigaddset(&continued, SIGCONT);
    const timespec now{};
    sigtimedwait(&continued, nullptr, &now);  // the caller puts the screen right itself
}

const char* EndingSignalName(int signo) {
    for (const Named& s : kEnding) {
        if (s.signo == signo) {
            return s.name;
        }
    }
    return "a signal";
}

int ExitStatusForSignal(int signo) {
    return 128 + signo;
}

}  // namespace fwburn::console

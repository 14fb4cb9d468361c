// The signals that end an update. Each one would end the process by default; caught, each ends it
// the same way: the port's exclusive flag cleared first, then a line saying what was interrupted,
// and the status 128 + the signal's number, as a shell reports a process that the signal ended.
#pragma once

#include <signal.h>

namespace fwburn::console {

// Blocks `set` in the calling thread, and so in every thread it starts later, and returns a
// non-blocking signalfd that reads it; -1, and nothing blocked, when there is no signalfd: a
// blocked signal that nobody reads would be lost.
int BlockIntoSignalFd(const sigset_t& set);
// The number of the next signal that the signalfd `fd` holds; 0 when none waits.
int TakeSignal(int fd);

// SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
// SIGXFSZ, SIGPIPE, SIGPWR, SIGIO, SIGSTKFLT, SIGSYS, SIGABRT and SIGRTMIN to SIGRTMAX.
sigset_t EndingSignals();

// BlockIntoSignalFd() of them, but for one that the process was started ignoring (nohup's
// SIGHUP): that one is left ignored and never read. A SIGPIPE or SIGXFSZ raised by a write of
// another thread stays with that thread and is never read here: the write fails with EPIPE or EFBIG
// instead, and the writer reports it.
int TakeEndingSignals();

// BlockIntoSignalFd() of SIGTSTP and SIGCONT. Read, the stop waits until the terminal is left as it
// was found (StopAsTheKeyWould). SIGCONT, blocked, still continues the process; read, it tells of a
// stop that nobody asked the program about (SIGSTOP, or a read from the terminal in the
// background), after which the shell has written over the screen.
int TakeStopKey();
// Stops the process with SIGTSTP, as the key would have; returns when it is continued, the
// SIGCONT that continued it taken. A SIGCONT already waiting has undone the stop: taken, and no
// stop.
void StopAsTheKeyWould();

// "SIGTERM", "SIGRTMIN+3", "SIGRTMAX" and so on; "a signal" for one that is not in the set.
const char* EndingSignalName(int signo);

// 128 + signo.
int ExitStatusForSignal(int signo);

}  // namespace fwburn::console

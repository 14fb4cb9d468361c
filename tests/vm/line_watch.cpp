// Follows an updater's --trace file and reads back, after every line setting the updater makes,
// what the tty's driver really holds:
//
//   line_watch TTY TRACE
//     "<ms> set <baud>-<bits><parity><stop> held <baud>-<bits><parity><stop>"  per set-line
//     "<ms> open <path>" and "<ms> tx <request>"                                as they come
//
// Polling the tty alone misses short stretches (a setting held for a few milliseconds between a
// reopen and the next one); following the trace sees each one. The read-back comes as soon as the
// trace line is written, well before the exchange that follows it can end. Opens the tty for each
// read-back only, and never reads it: the updater refuses a port another process holds open.
// TRACE should exist (empty) before the updater starts, which waits for the first line,
// "0 watching". Ends on SIGTERM.
#include <fcntl.h>
#include <sys/inotify.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace {

unsigned Baud(speed_t s) {
    switch (s) {
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

long Ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

std::string Held(const char* path) {
    termios t{};
    const int fd = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const bool read = fd >= 0 && tcgetattr(fd, &t) == 0;
    if (fd >= 0) {
        close(fd);
    }
    if (!read) {
        return "none";
    }
    const tcflag_t size = t.c_cflag & CSIZE;
    const char bits = size == CS5 ? '5' : size == CS6 ? '6' : size == CS7 ? '7' : '8';
    const char parity = (t.c_cflag & PARENB) == 0 ? 'N' : (t.c_cflag & PARODD) != 0 ? 'O' : 'E';
    return std::to_string(Baud(cfgetospeed(&t))) + "-" + bits + parity +
           ((t.c_cflag & CSTOPB) != 0 ? '2' : '1');
}

// One trace line; prints what the checks need.
void Take(const std::string& line, const char* tty, long start) {
    std::istringstream in(line);
    std::string ms, kind, a, b, c, d;
    in >> ms >> kind >> a >> b >> c >> d;
    if (kind == "set-line") {
        const std::string held = Held(tty);
        std::printf("%ld set %s-%s%s%s held %s\n", Ms() - start, a.c_str(), b.c_str(), c.c_str(),
                    d.c_str(), held.c_str());
    } else if (kind == "note" && a == "open" && b != "failed") {
        std::printf("%ld open %s\n", Ms() - start, b.c_str());
    } else if (kind == "tx") {
        std::printf("%ld tx %s\n", Ms() - start, a.c_str());
    } else {
        return;
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: line_watch TTY TRACE\n");
        return 2;
    }
    if (access(argv[1], R_OK) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    const int trace = open(argv[2], O_RDONLY | O_CLOEXEC);
    const int watch = inotify_init1(IN_CLOEXEC);
    if (trace < 0 || watch < 0 || inotify_add_watch(watch, argv[2], IN_MODIFY) < 0) {
        std::perror(argv[2]);
        return 1;
    }
    // Said once it follows the trace: the updater starts only then, as a read-back that came late
    // would show a setting the updater had already moved on from.
    std::printf("0 watching\n");
    std::fflush(stdout);
    const long start = Ms();
    std::string pending;
    for (;;) {
        char buffer[4096];
        const ssize_t n = read(trace, buffer, sizeof buffer);
        if (n > 0) {
            pending.append(buffer, static_cast<size_t>(n));
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                Take(pending.substr(0, end), argv[1], start);
                pending.erase(0, end + 1);
            }
            continue;
        }
        // At the end of what was written so far: wait for more.
        char events[4096];
        if (read(watch, events, sizeof events) < 0) {
            std::perror("inotify");
            return 1;
        }
    }
}

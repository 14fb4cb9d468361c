// Prints the line settings a tty holds each time they change, as the kernel reports them:
//
//   line_watch TTY     ->  "<ms since start> <baud> <data bits><parity><stop bits>"
//
// Keeps one descriptor open and never reads, so that it changes nothing for the program that
// drives the line. Ends on SIGTERM.
#include <fcntl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: line_watch TTY\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    const long start = Ms();
    std::string last;
    for (;;) {
        termios t{};
        if (tcgetattr(fd, &t) == 0) {
            const tcflag_t size = t.c_cflag & CSIZE;
            const char bits = size == CS5 ? '5' : size == CS6 ? '6' : size == CS7 ? '7' : '8';
            const char parity = (t.c_cflag & PARENB) == 0   ? 'N'
                                : (t.c_cflag & PARODD) != 0 ? 'O'
                                                            : 'E';
            const std::string now = std::to_string(Baud(cfgetospeed(&t))) + " " + bits + parity +
                                    ((t.c_cflag & CSTOPB) != 0 ? '2' : '1');
            if (now != last) {
                std::printf("%ld %s\n", Ms() - start, now.c_str());
                std::fflush(stdout);
                last = now;
            }
        }
        usleep(5000);
    }
}

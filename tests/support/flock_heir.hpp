// A program that takes the flock on a file and leaves it to a child, as one that forks into the
// background and ends does: /proc/locks goes on listing the taker, whose pid may go to anyone.
// POSIX only.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace fwburn::test {

class FlockHeir {
  public:
    // Takes `path`'s lock in a child (`pidToo`: writing its pid into the file, as the update's
    // lock file holds it), which forks the heir and closes its own descriptor; both stay until
    // this object ends.
    FlockHeir(const std::string& path, bool pidToo) {
        int toTest[2];
        if (pipe(toTest) != 0 || pipe(toTaker_) != 0) {
            return;
        }
        taker_ = fork();
        if (taker_ == 0) {
            close(toTaker_[1]);
            const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOCTTY, 0644);
            pid_t heir = -1;
            if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) {
                const std::string pid = std::to_string(getpid()) + "\n";
                if (pidToo) {
                    [[maybe_unused]] const ssize_t written = write(fd, pid.data(), pid.size());
                }
                heir = fork();
                if (heir == 0) {
                    pause();
                    _exit(0);
                }
                close(fd);
            }
            [[maybe_unused]] const ssize_t told = write(toTest[1], &heir, sizeof heir);
            char byte;
            [[maybe_unused]] const ssize_t heard = read(toTaker_[0], &byte, 1);  // until the end
            if (heir > 0) {  // never kill(-1): as root that is every process
                kill(heir, SIGKILL);
                waitpid(heir, nullptr, 0);
            }
            _exit(0);
        }
        close(toTest[1]);
        close(toTaker_[0]);
        if (taker_ < 0 || read(toTest[0], &heir_, sizeof heir_) != sizeof heir_) {
            heir_ = -1;
        }
        close(toTest[0]);
    }
    ~FlockHeir() {
        close(toTaker_[1]);
        if (taker_ > 0) {
            waitpid(taker_, nullptr, 0);
        }
    }
    FlockHeir(const FlockHeir&) = delete;
    FlockHeir& operator=(const FlockHeir&) = delete;

    // The child that holds the lock now; -1 when the lock could not be taken.
    pid_t heir() const { return heir_; }

  private:
    int toTaker_[2] = {-1, -1};
    pid_t taker_ = -1;
    pid_t heir_ = -1;
};

}  // namespace fwburn::test

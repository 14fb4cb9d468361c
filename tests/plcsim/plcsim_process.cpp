#include "tests/plcsim/plcsim_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace fwburn::sim::plcsim::test {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Starts plcsim with stdout on a pipe (returned in `out`) and stderr in a file.
pid_t Spawn(const std::vector<std::string>& args, int& out, const std::string& errPath) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    std::vector<std::string> all{PLCSIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(pipeFds[1], 1);
        if (err >= 0) {
            dup2(err, 2);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    out = pipeFds[0];
    return pid;
}

int ExitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

std::string TempPath(const std::string& name) {
    static std::atomic<int> counter{0};
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/plcsim-test-" + std::to_string(getpid()) +
           "-" + std::to_string(counter++) + "-" + name;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string JsonField(const std::string& json, const std::string& key) {
    const std::regex field("\"" + key + "\": ([^\\n]*?),?\\n");
    std::smatch m;
    return std::regex_search(json, m, field) ? m[1].str() : "";
}

int ReplyByte(const std::string& reply, size_t n) {
    if (reply.size() < 2 * n + 3) {
        return -1;
    }
    return std::stoi(reply.substr(2 * n + 1, 2), nullptr, 16);
}

PlcsimProcess::PlcsimProcess(const std::vector<std::string>& args)
    : stderrPath_(TempPath("stderr")) {
    pid_ = Spawn(args, stdout_, stderrPath_);
    if (pid_ < 0) {
        return;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
    pollfd p{stdout_, POLLIN, 0};
    while (firstLine_.find('\n') == std::string::npos && poll(&p, 1, MsLeft(deadline)) > 0) {
        char c[256];
        const ssize_t n = read(stdout_, c, sizeof c);
        if (n <= 0) {
            break;
        }
        firstLine_.append(c, static_cast<size_t>(n));
    }
    const size_t end = firstLine_.find('\n');
    if (end == std::string::npos) {
        return;
    }
    firstLine_.resize(end);
    const size_t on = firstLine_.rfind(" on ");
    if (on != std::string::npos) {
        port_ = firstLine_.substr(on + 4);
    }
}

PlcsimProcess::~PlcsimProcess() {
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) {
        close(stdout_);
    }
    unlink(stderrPath_.c_str());
}

void PlcsimProcess::Signal(int signal) const {
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, signal);
    }
}

bool PlcsimProcess::Running() {
    int status = 0;
    if (pid_ > 0 && status_ < 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = ExitStatus(status);
    }
    return pid_ > 0 && status_ < 0;
}

int PlcsimProcess::Wait(int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (Running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        status_ = 999;
        return -1;
    }
    return status_;
}

std::string PlcsimProcess::Stderr() const {
    return ReadText(stderrPath_);
}

bool PlcsimProcess::Logged(const std::string& text, int timeoutMs) const {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Stderr().find(text) == std::string::npos) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

Finished RunPlcsim(const std::vector<std::string>& args) {
    Finished f;
    const std::string errPath = TempPath("stderr");
    int out = -1;
    const pid_t pid = Spawn(args, out, errPath);
    if (pid < 0) {
        return f;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
    pollfd p{out, POLLIN, 0};
    while (poll(&p, 1, MsLeft(deadline)) > 0) {
        char c[4096];
        const ssize_t n = read(out, c, sizeof c);
        if (n <= 0) {
            break;
        }
        f.out.append(c, static_cast<size_t>(n));
    }
    close(out);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && MsLeft(deadline) > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (done != pid) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    f.status = done == pid ? ExitStatus(status) : -1;
    f.err = ReadText(errPath);
    unlink(errPath.c_str());
    return f;
}

Host::Host(const std::string& port) {
    fd_ = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (fd_ < 0 || tcgetattr(fd_, &t) != 0) {
        Close();
        return;
    }
    cfmakeraw(&t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(fd_, TCSANOW, &t);
    tcflush(fd_, TCIOFLUSH);
}

Host::~Host() {
    Close();
}

void Host::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool Host::SetBaud(speed_t speed) {
    termios t{};
    return tcgetattr(fd_, &t) == 0 && cfsetispeed(&t, speed) == 0 && cfsetospeed(&t, speed) == 0 &&
           tcsetattr(fd_, TCSADRAIN, &t) == 0;
}

bool Host::Send(std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            pollfd p{fd_, POLLOUT, 0};
            if (poll(&p, 1, 1000) <= 0) {
                return false;
            }
            continue;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string Host::Read(size_t count, int timeoutMs) {
    std::string got;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd p{fd_, POLLIN, 0};
    while (got.size() < count && poll(&p, 1, MsLeft(deadline)) > 0) {
        char c[512];
        const ssize_t n = read(fd_, c, std::min(sizeof c, count - got.size()));
        if (n <= 0) {
            break;
        }
        got.append(c, static_cast<size_t>(n));
    }
    return got;
}

std::string Host::Ask(std::string_view request, size_t count) {
    return Send(request) ? Read(count, 2000) : "";
}

}  // namespace fwburn::sim::plcsim::test

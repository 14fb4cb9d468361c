#include "sim/plcsim/udc.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fwburn::sim::plcsim {

std::string UdcSwitch::Load() {
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return path_ + ": " + std::strerror(errno);
    }
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer - 1);
    const int error = errno;
    close(fd);
    if (n < 0) {
        return path_ + ": " + std::strerror(error);
    }
    std::string name(buffer, static_cast<size_t>(n));
    while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) {
        name.pop_back();
    }
    if (name.empty()) {
        return path_ + ": the gadget is bound to no controller";
    }
    name_ = name;
    plugged_ = true;
    return "";
}

std::string UdcSwitch::Unplug() {
    if (!plugged_) {
        return "";
    }
    const std::string e = Write("\n");
    if (e.empty()) {
        plugged_ = false;
    }
    return e;
}

std::string UdcSwitch::Plug() {
    if (plugged_) {
        return "";
    }
    const std::string e = Write(name_ + "\n");
    if (e.empty()) {
        plugged_ = true;
    }
    return e;
}

std::string UdcSwitch::Write(const std::string& text) {
    // configfs takes the whole value in one write; no O_TRUNC on a configfs attribute.
    const int fd = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return path_ + ": " + std::strerror(errno);
    }
    ssize_t n;
    do {
        n = write(fd, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
    const int error = errno;
    close(fd);
    if (n != static_cast<ssize_t>(text.size())) {
        return path_ + ": " + (n < 0 ? std::strerror(error) : "short write");
    }
    return "";
}

}  // namespace fwburn::sim::plcsim

// The console program's system on Linux.
#include "ui/console/cli/platform.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "ui/console/posix/extract_image.hpp"
#include "ui/console/posix/posix_host.hpp"

namespace fwburn::console {

std::unique_ptr<Host> MakeHost() {
    std::unique_ptr<PosixHost> host;
    try {
        host = std::make_unique<PosixHost>();
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("cannot start its output: ") + e.what());
    }
    if (host->Failed()) {
        throw std::runtime_error(std::string("cannot take signals: ") + std::strerror(errno));
    }
    return host;
}

bool TerminalOutput() {
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) && term != nullptr && std::strcmp(term, "dumb") != 0;
}

const char* EndingStatuses() {
    return "128+N ended by signal N (130 SIGINT, 143 SIGTERM, 129 SIGHUP).";
}

bool ReplaceFileSafely(const std::string& file, const uint8_t* data, size_t length,
                       std::string& error) {
    return ReplaceFile(file, data, length, error);
}

std::string NameWrittenAs(const std::string& file) {
    return file;
}

}  // namespace fwburn::console

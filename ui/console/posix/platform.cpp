// The console program's system on Linux.
#include "ui/console/cli/platform.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/console/posix/extract_image.hpp"
#include "ui/console/posix/posix_host.hpp"

namespace fwburn::console {

std::unique_ptr<Host> MakeHost(const char* program) {
    auto host = std::make_unique<PosixHost>();
    if (host->Failed()) {
        std::fprintf(stderr, "%s: cannot take signals: %s\n", program, std::strerror(errno));
        return nullptr;
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

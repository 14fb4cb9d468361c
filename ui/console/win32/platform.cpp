// The console program's system on Windows.
#include "ui/console/cli/platform.hpp"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "ui/console/win32/console_modes.hpp"
#include "ui/console/win32/win32_host.hpp"

namespace fwburn::console {

std::unique_ptr<Host> MakeHost() {
    std::unique_ptr<Win32Host> host;
    try {
        host = std::make_unique<Win32Host>();
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("cannot start its output: ") + e.what());
    }
    if (host->Failed()) {
        throw std::runtime_error("cannot take the console's events or make its output (error " +
                                 std::to_string(GetLastError()) + ")");
    }
    return host;
}

bool TerminalOutput() {
    const char* term = std::getenv("TERM");
    return VirtualTerminalOutput() && (term == nullptr || std::strcmp(term, "dumb") != 0);
}

const char* EndingStatuses() {
    return "130 Ctrl+C, 149 Ctrl+Break, 129 the console closed, 143 logoff or shutdown, 141 the\n"
           "output's reader went away.";
}

}  // namespace fwburn::console

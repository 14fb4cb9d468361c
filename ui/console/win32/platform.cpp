// The console program's system on Windows.
#include "ui/console/cli/platform.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/console/win32/console_modes.hpp"
#include "ui/console/win32/win32_host.hpp"

namespace fwburn::console {

std::unique_ptr<Host> MakeHost(const char* program) {
    auto host = std::make_unique<Win32Host>();
    if (host->Failed()) {
        std::fprintf(stderr,
                     "%s: cannot take the console's events or make its output (error %lu)\n",
                     program, GetLastError());
        return nullptr;
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

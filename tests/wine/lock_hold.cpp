// Another updater for the update lock's tests: takes the lock of its identities in its own
// process and holds it until a line (or the end) comes on stdin.
//
//   fwburn-wine-lockhold <exclusive|shared> <identity>...
//
// Prints "held", "busy <pid> <program>" or "failed <why>", and "released" once it let go.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/win32/update_lock.hpp"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: fwburn-wine-lockhold <exclusive|shared> <identity>...\n", stderr);
        return 2;
    }
    const bool shared = std::strcmp(argv[1], "shared") == 0;
    const std::vector<std::string> identities(argv + 2, argv + argc);
    fwburn::UpdateLock lock;
    switch (lock.Take(identities, shared ? fwburn::UpdateLock::Mode::kShared
                                         : fwburn::UpdateLock::Mode::kExclusive)) {
        case fwburn::UpdateLock::Status::kHeld:
            std::puts("held");
            break;
        case fwburn::UpdateLock::Status::kBusy:
            std::printf("busy %lu %s\n", lock.holderProcess(), lock.holderProgram().c_str());
            return 1;
        case fwburn::UpdateLock::Status::kFailed:
            std::printf("failed %s\n", lock.why().c_str());
            return 1;
    }
    std::fflush(stdout);
    char line[16];
    (void)!std::fgets(line, sizeof line, stdin);
    lock.Release();
    std::puts("released");
    return 0;
}

// One console program per build profile: the profile library linked beside it decides the image
// and the model.
#include "ui/console/cli/commands.hpp"
#include "ui/console/posix/std_fds.hpp"

int main(int argc, char** argv) {
    // Before anything opens a file: a closed standard descriptor must not become the port's.
    if (!fwburn::console::KeepStandardDescriptorsOpen()) {
        return 1;
    }
    return fwburn::console::RunConsole(FWBURN_CONSOLE_PROGRAM, argc, argv);
}

// One console program per build profile: the profile library linked beside it decides the image
// and the model.
#include "ui/console/app.hpp"

int main(int argc, char** argv) {
    return fwburn::console::RunConsole(FWBURN_CONSOLE_PROGRAM, argc, argv);
}

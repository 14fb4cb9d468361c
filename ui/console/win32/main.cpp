// One console program per build profile on Windows: the arguments as Windows gives them (UTF-16)
// become the UTF-8 the program speaks everywhere, and the console takes UTF-8 output while it
// runs.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ui/console/cli/commands.hpp"
#include "ui/console/win32/console_modes.hpp"
#include "ui/console/win32/text.hpp"

int wmain(int argc, wchar_t** argv) {
    fwburn::console::KeepStandardHandles();
    fwburn::console::TakeConsole();
    // Lines end in "\n" alone, in a file or a pipe as on Linux, as the session's own output does
    // (a console shows them as it shows those).
    for (std::FILE* stream : {stdout, stderr}) {
        if (_fileno(stream) >= 0) {
            _setmode(_fileno(stream), _O_BINARY);
        }
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.push_back(fwburn::console::Utf8(argv[i]));
    }
    std::vector<char*> pointers;
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    // A machine that sleeps mid-update leaves the controller erased: it stays awake while the
    // program runs (the display may still turn off).
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    const int code = fwburn::console::RunConsole(FWBURN_CONSOLE_PROGRAM, argc, pointers.data());
    fwburn::console::RestoreConsole();
    return code;
}

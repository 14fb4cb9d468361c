// The console program's command line.
#pragma once

#include <string>
#include <vector>

namespace fwburn::console {

struct Options {
    // --port, once per controller, in the order given: empty for the discovered port.
    std::vector<std::string> ports;
    bool all = false;           // --all: every attached controller of the USB link
    bool listPorts = false;     // --list-ports
    bool info = false;          // --info: look at each controller, change nothing
    bool yes = false;           // --yes
    std::string extractImage;   // --extract-image: the file to write
    bool version = false;       // --version
    bool json = false;          // --json
    std::string trace;          // --trace: the file that records the link's bytes and settings
    bool allowStandIn = false;  // --allow-stand-in: a test build may write its stand-in image
};

struct ParsedCommandLine {
    bool run = false;    // false: print `output` and `error` and exit with `exitCode`
    int exitCode = 0;    // 0 for --help, 2 for a usage error
    std::string output;  // help text
    std::string error;   // what was wrong, and where to look
    Options options;
};

// Parses the arguments after the program name. `model` names the program's fixed model in the
// help text.
ParsedCommandLine ParseCommandLine(const std::string& program, const std::string& model,
                                   const std::vector<std::string>& arguments);

}  // namespace fwburn::console

// Port names cut from friendly names and the USB device-path rules, on any text: nothing ever
// longer than its buffer, and each result what the rule says, checked by a plain reading of it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/win32/port_names.hpp"

#include "fuzz/require.hpp"

using namespace fwburn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = std::string(reinterpret_cast<const char*>(data), size).c_str();

    char port[kPortNameSize];
    std::memset(port, '#', sizeof port);
    const bool cut = CutPortName(text.c_str(), port);
    fuzz::Require(port[kPortNameSize - 1] == '\0' && std::strlen(port) < kPortNameSize);
    const size_t open = text.find("(COM");
    const size_t close = text.rfind(')');
    const bool wanted = open != std::string::npos && close != std::string::npos &&
                        close > open + 1 && close - (open + 1) <= kPortNameSize - 1;
    fuzz::Require(cut == wanted);
    fuzz::Require(cut ? text.substr(open + 1, close - open - 1) == port : port[0] == '\0');

    char serial[kSerialPathSize];
    if (SerialDevicePath(port, serial)) {
        fuzz::Require(std::string(serial) == std::string("\\\\.\\") + port);
    }

    fuzz::Require(IsControllerPath(text.c_str()) ==
                  (text.find(kControllerPathFragment) != std::string::npos));

    char path[kUsbPathSize];
    const bool copied = CopyDevicePath(text.c_str(), path);
    fuzz::Require(path[kUsbPathSize - 1] == '\0' || std::strlen(path) < kUsbPathSize);
    if (copied) {
        fuzz::Require(text == path);
        const std::string before = path;
        if (AppendPipeSuffix(path, "")) {
            fuzz::Require(std::string(path) == before + "\\");
        } else {
            fuzz::Require(std::string(path) == before);
        }
    } else {
        fuzz::Require(path[0] == '\0');
    }
    return 0;
}

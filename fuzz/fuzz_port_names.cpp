// Port names cut from friendly names and the USB device-path rules, on any text: nothing ever
// longer than its buffer, and each result what the rule says, checked by a plain reading of it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/win32/port_names.hpp"

using namespace fwburn;

namespace {

void Require(bool condition) {
    if (!condition) {
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = std::string(reinterpret_cast<const char*>(data), size).c_str();

    char port[kPortNameSize];
    std::memset(port, '#', sizeof port);
    const bool cut = CutPortName(text.c_str(), port);
    Require(port[kPortNameSize - 1] == '\0' && std::strlen(port) < kPortNameSize);
    const size_t open = text.find("(COM");
    const size_t close = text.rfind(')');
    const bool wanted = open != std::string::npos && close != std::string::npos &&
                        close > open + 1 && close - (open + 1) <= kPortNameSize - 1;
    Require(cut == wanted);
    Require(cut ? text.substr(open + 1, close - open - 1) == port : port[0] == '\0');

    char serial[kSerialPathSize];
    if (SerialDevicePath(port, serial)) {
        Require(std::string(serial) == std::string("\\\\.\\") + port);
    }

    Require(IsControllerPath(text.c_str()) ==
            (text.find(kControllerPathFragment) != std::string::npos));

    char path[kUsbPathSize];
    const bool copied = CopyDevicePath(text.c_str(), path);
    Require(path[kUsbPathSize - 1] == '\0' || std::strlen(path) < kUsbPathSize);
    if (copied) {
        Require(text == path);
        const std::string before = path;
        if (AppendPipeSuffix(path, "")) {
            Require(std::string(path) == before + "\\");
        } else {
            Require(std::string(path) == before);
        }
    } else {
        Require(path[0] == '\0');
    }
    return 0;
}

// The operator seam: what the burn worker asks of its surroundings. The window implements it with
// message boxes and its controls, the console program with its terminal, the tests with a script.
#pragma once

#include "link/device.hpp"

namespace fwburn {

enum class MessageIcon { Error, Information };

// The operator's answer to a message or a wait. Only a reconnect prompt or the wait after an
// accepted update request may be cancelled (the console's Ctrl-C, end of input, or its limit on
// controllers that never leave their application); the window always answers Ok.
enum class Answer { Ok, Cancel };

class Operator {
  public:
    virtual ~Operator() = default;
    // One modal message, owned by the main window; returns when the operator has answered.
    virtual Answer ShowMessage(const char* caption, const char* text, MessageIcon icon) = 0;
    virtual void EnableStart(bool enabled) = 0;
    // Stops the elapsed-seconds timer (timer 5 of the window).
    virtual void StopElapsedTimer() = 0;
    virtual Answer WaitSeconds(int seconds) = 0;
    // Opens the serial port of that name, or the controller's USB device. Returns the open
    // device, or ClosedDevice() when the open failed.
    virtual Device* OpenSerial(const char* portName) = 0;
    virtual Device* OpenUsb() = 0;
    // Closes a device the operator opened; ClosedDevice() is ignored.
    virtual void Close(Device* device) = 0;
};

}  // namespace fwburn

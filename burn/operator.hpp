// The operator seam: what the burn worker asks of its surroundings. The window implements it with
// message boxes and its controls, the console program with its terminal, the tests with a script.
#pragma once

#include "burn/outcome.hpp"
#include "catalogue/catalogue.hpp"
#include "link/device.hpp"

namespace fwburn {

// The operator's answer to a prompt or a wait. Only a reconnect prompt or the wait after an
// accepted update request may be cancelled (the console's Ctrl-C, end of input, or its limit on
// controllers that never leave their application); the window always answers Ok.
enum class Answer { Ok, Cancel };

class Operator {
  public:
    virtual ~Operator() = default;
    // A reconnect prompt after an accepted update request: `kind` says what the person does
    // (ReplugUsb or PowerCycle), `text` is the message as the window shows it. Modal: returns
    // when the operator has answered.
    virtual Answer Prompt(ReconnectKind kind, const char* caption, const char* text) = 0;
    // The update's one final message (never for a cancelled update). Modal.
    virtual void ShowOutcome(const UpdateOutcome& outcome) = 0;
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

// An operator for worker tests: records every call with the figures the panel would show at that
// moment, and answers as the test says (replug the simulated controller, wait on its clock,
// cancel a prompt).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "burn/operator.hpp"
#include "protocol/progress.hpp"

namespace fwburn::test {

struct OperatorEvent {
    enum Kind { kMessage, kEnableStart, kStopTimer, kWait, kOpenSerial, kOpenUsb, kClose };
    Kind kind;
    std::string caption;  // message
    std::string text;     // message text, or the serial port name opened
    MessageIcon icon = MessageIcon::Error;
    // A message is either a reconnect prompt (with what the person does) or the final outcome.
    bool prompt = false;
    ReconnectKind reconnect = ReconnectKind::Wait;
    OutcomeKind outcome = OutcomeKind::Cancelled;
    bool erased = false;
    bool enabled = false;  // EnableStart
    int seconds = 0;       // Wait
    // The panel's figures when the call was made.
    int32_t flashStatus = 0, progress = 0, errCounter = 0, totalErrCounter = 0, elapsedTime = 0;
    uint32_t done = 0, total = 0;
};

class RecordingOperator : public Operator {
  public:
    // The figures of the update this operator serves; read at every call.
    const Figures* figures = nullptr;
    std::vector<OperatorEvent> events;
    std::function<Device*(const char* port)> openSerial = [](const char*) {
        return &ClosedDevice();
    };
    std::function<Device*()> openUsb = [] { return &ClosedDevice(); };
    std::function<void(Device*)> close = [](Device*) {};
    // Called for prompts and for the final message; the answer counts for prompts only.
    std::function<Answer(const OperatorEvent& message)> onMessage = [](const OperatorEvent&) {
        return Answer::Ok;
    };
    std::function<Answer(int seconds)> onWait = [](int) { return Answer::Ok; };

    Answer Prompt(ReconnectKind kind, const char* caption, const char* text) override {
        OperatorEvent e = Event(OperatorEvent::kMessage);
        e.caption = caption;
        e.text = text;
        e.icon = MessageIcon::Information;
        e.prompt = true;
        e.reconnect = kind;
        events.push_back(e);
        return onMessage(e);
    }
    void ShowOutcome(const UpdateOutcome& outcome) override {
        OperatorEvent e = Event(OperatorEvent::kMessage);
        e.caption = outcome.caption;
        e.text = outcome.text;
        e.icon = outcome.icon;
        e.outcome = outcome.kind;
        e.erased = outcome.erased;
        events.push_back(e);
        onMessage(e);
    }
    void EnableStart(bool enabled) override {
        OperatorEvent e = Event(OperatorEvent::kEnableStart);
        e.enabled = enabled;
        events.push_back(e);
    }
    void StopElapsedTimer() override { events.push_back(Event(OperatorEvent::kStopTimer)); }
    Answer WaitSeconds(int seconds) override {
        OperatorEvent e = Event(OperatorEvent::kWait);
        e.seconds = seconds;
        events.push_back(e);
        return onWait(seconds);
    }
    Device* OpenSerial(const char* portName) override {
        OperatorEvent e = Event(OperatorEvent::kOpenSerial);
        e.text = portName;
        events.push_back(e);
        return openSerial(portName);
    }
    Device* OpenUsb() override {
        events.push_back(Event(OperatorEvent::kOpenUsb));
        return openUsb();
    }
    void Close(Device* device) override {
        if (device != &ClosedDevice()) {
            events.push_back(Event(OperatorEvent::kClose));
        }
        close(device);
    }

    std::vector<OperatorEvent> Messages() const { return Of(OperatorEvent::kMessage); }
    std::vector<OperatorEvent> Of(OperatorEvent::Kind kind) const {
        std::vector<OperatorEvent> out;
        for (const auto& e : events) {
            if (e.kind == kind) {
                out.push_back(e);
            }
        }
        return out;
    }
    // The sequence of call kinds as letters: M message, E enable, D disable, T timer stop,
    // W wait, S serial open, U USB open, C close. Fixed orders read well this way.
    std::string Sequence() const {
        std::string s;
        for (const auto& e : events) {
            switch (e.kind) {
                case OperatorEvent::kMessage:
                    s += 'M';
                    break;
                case OperatorEvent::kEnableStart:
                    s += e.enabled ? 'E' : 'D';
                    break;
                case OperatorEvent::kStopTimer:
                    s += 'T';
                    break;
                case OperatorEvent::kWait:
                    s += 'W';
                    break;
                case OperatorEvent::kOpenSerial:
                    s += 'S';
                    break;
                case OperatorEvent::kOpenUsb:
                    s += 'U';
                    break;
                case OperatorEvent::kClose:
                    s += 'C';
                    break;
            }
        }
        return s;
    }

  private:
    OperatorEvent Event(OperatorEvent::Kind kind) const {
        OperatorEvent e;
        e.kind = kind;
        if (figures != nullptr) {
            e.flashStatus = figures->flashStatus;
            e.progress = figures->progress;
            e.errCounter = figures->errCounter;
            e.totalErrCounter = figures->totalErrCounter;
            e.elapsedTime = figures->elapsedTime;
            e.done = figures->done;
            e.total = figures->total;
        }
        return e;
    }
};

}  // namespace fwburn::test

// One update of the real burn worker against the in-process simulated controller, on the
// simulator's virtual clock. The operator does what a person at the bench would: replug or
// power-cycle the controller when asked, then press OK.
#pragma once

#include <string>
#include <vector>

#include "burn/burn.hpp"
#include "catalogue/catalogue.hpp"
#include "catalogue/job_state.hpp"
#include "sim/controller.hpp"
#include "sim/sim_link.hpp"
#include "tests/support/recording_operator.hpp"
#include "tests/support/test_image.hpp"
#include "tests/support/test_name.hpp"

namespace fwburn::test {

inline bool IsSuccessText(const std::string& text) {
    return text.rfind("Firmware update is SUCCESSFUL", 0) == 0;
}

struct BenchOptions {
    std::string selected;   // the model the program is built for (selector locked on it)
    std::string connected;  // the controller on the cable; empty: the selected model
    uint32_t imageLength = 0;
    sim::Faults faults;
    int promptsBeforeCancel = -1;  // cancel the n-th reconnect prompt or wait (1-based); -1 never
    bool standInImage = false;     // the job's image is a stand-in
    bool standInAllowed = false;   // and the operator said yes to it
};

class Bench {
  public:
    explicit Bench(const BenchOptions& options)
        : image(options.imageLength, options.imageLength * 7 + 1),
          controller(MakeConfig(options)),
          link(controller),
          options_(options) {
        ResetJobState();
        SelectModelRow(FindModelRow(options.selected.c_str()));
        usb_ = RowInFamily(selectedPLCIdx, Family::UsbLinked);
        selectedComPort.Set(usb_ ? "USB" : "COM3");
        op.openSerial = [this](const char*) { return Open(); };
        op.openUsb = [this] { return Open(); };
        op.close = [this](Device* d) {
            if (d == &link) {
                link.Close();
            }
        };
        op.onWait = [this](int seconds) {
            link.AdvanceMs(int64_t{seconds} * 1000);
            if (prompted_) {  // the wait that follows a prompt
                prompted_ = false;
                return Answer::Ok;
            }
            return Reconnecting();
        };
        op.onMessage = [this](const OperatorEvent& m) {
            if (m.text.find("REPLUG the USB Cable") != std::string::npos) {
                link.Replug();
                prompted_ = true;
                return Reconnecting();
            }
            if (m.text.find("POWER OFF=>ON") != std::string::npos) {
                link.PowerCycle();
                prompted_ = true;
                return Reconnecting();
            }
            finalMessages.push_back(m);
            return Answer::Ok;
        };
    }

    // Runs one update (one press of Start) to its end.
    void Start() {
        BurnJob job = image.Job(op);
        job.standInImage = options_.standInImage;
        job.standInAllowed = options_.standInAllowed;
        Start(job);
    }
    // The same with a job of the caller's (the build's own image, for one).
    void Start(const BurnJob& job) {
        if (!TryClaimWorker()) {
            ADD_FAILURE() << "a worker is still running";
            return;
        }
        StartBurn(job);
    }

    // The one final message of the last update.
    OperatorEvent Final() const {
        EXPECT_FALSE(finalMessages.empty());
        return finalMessages.empty() ? OperatorEvent{} : finalMessages.back();
    }

    // What the controller received, compared with what it must hold.
    bool FlashMatchesImage() const { return FlashMatches(image.bytes.data()); }
    bool FlashMatches(const uint8_t* sent) const {
        const sim::Geometry g = controller.expected();
        const auto& flash = controller.flash();
        if (!controller.transferComplete() || flash.size() < g.sentBytes) {
            return false;
        }
        for (size_t i = 0; i < flash.size(); ++i) {
            const uint8_t want = i < g.sentBytes ? sent[i] : 0x1A;
            if (flash[i] != want) {
                return false;
            }
        }
        return true;
    }

    std::string Violations() const {
        std::string all;
        for (const auto& v : controller.violations()) {
            all += v + "\n";
        }
        return all;
    }

    int reconnects = 0;  // accepted update requests: a prompt, or a wait without one
    std::vector<OperatorEvent> finalMessages;
    TestImage image;
    sim::Controller controller;
    sim::SimLink link;
    RecordingOperator op;

  private:
    static sim::Config MakeConfig(const BenchOptions& o) {
        sim::Config c;
        c.model = o.connected.empty() ? o.selected : o.connected;
        c.imageLength = o.imageLength;
        c.faults = o.faults;
        return c;
    }

    Device* Open() { return link.Open() ? static_cast<Device*>(&link) : &ClosedDevice(); }

    Answer Reconnecting() {
        ++reconnects;
        return reconnects == options_.promptsBeforeCancel ? Answer::Cancel : Answer::Ok;
    }

    BenchOptions options_;
    bool usb_ = false;
    bool prompted_ = false;
};

}  // namespace fwburn::test

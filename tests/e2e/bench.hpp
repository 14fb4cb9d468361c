// One update of the real burn worker against the in-process simulated controller, on the
// simulator's virtual clock. The operator does what a person at the bench would: replug or
// power-cycle the controller when asked, then press OK.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "burn/burn.hpp"
#include "catalogue/catalogue.hpp"
#include "sim/controller.hpp"
#include "sim/sim_link.hpp"
#include "tests/support/recording_operator.hpp"
#include "tests/support/test_image.hpp"
#include "tests/support/test_name.hpp"

namespace fwburn::test {

// The bench's tests name the simulator's phases and fault kinds as their own.
using sim::FaultKind;
using sim::Phase;

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

// `times` replies of `phase` spoiled by `kind` (sim::kForever: every one), after `skip` good ones.
inline sim::ReplyFault Fault(sim::Phase phase, sim::FaultKind kind, int times = sim::kForever,
                             int skip = 0) {
    sim::ReplyFault f;
    f.phase = phase;
    f.kind = kind;
    f.times = times;
    f.skip = skip;
    return f;
}

// Every reply of `phase` an error reply of class `errorClass` about state `errorState`.
inline sim::ReplyFault ErrorReply(sim::Phase phase, uint8_t errorClass, uint8_t errorState) {
    sim::ReplyFault f = Fault(phase, sim::FaultKind::kErrorReply);
    f.errorClass = errorClass;
    f.errorState = errorState;
    return f;
}

// Most updates: the program's model, the image's length, the spoiled replies and, where another
// controller is on the cable, its model.
inline BenchOptions Options(std::string selected, uint32_t imageLength,
                            std::vector<sim::ReplyFault> replies = {}, std::string connected = "") {
    BenchOptions o;
    o.selected = std::move(selected);
    o.connected = std::move(connected);
    o.imageLength = imageLength;
    o.faults.replies = std::move(replies);
    return o;
}

class Bench {
  public:
    explicit Bench(const BenchOptions& options)
        : image(options.imageLength, options.imageLength * 7 + 1),
          controller(MakeConfig(options)),
          link(controller),
          options_(options) {
        row_ = FindModelRow(options.selected.c_str());
        EXPECT_GE(row_, 0) << options.selected;
        update.SetPortName(IsUsbLinked(row_) ? "USB" : "COM3");
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
            if (m.prompt && m.reconnect == ReconnectKind::ReplugUsb) {
                link.Replug();
                prompted_ = true;
                return Reconnecting();
            }
            if (m.prompt && m.reconnect == ReconnectKind::PowerCycle) {
                link.PowerCycle();
                prompted_ = true;
                return Reconnecting();
            }
            EXPECT_FALSE(m.prompt) << "a prompt of no reconnect kind: " << m.text;
            finalMessages.push_back(m);
            return Answer::Ok;
        };
    }

    // Runs one update (one press of Start) to its end with the bench's image; the port name is
    // the one set last (at construction, or by the test since).
    void Start() {
        Prepare();
        update.image = image.Span();
        update.imageSha256 = image.sha256.c_str();
        update.standInImage = options_.standInImage;
        update.standInAllowed = options_.standInAllowed;
        Run();
    }
    // Every open of the job's port, USB or serial, goes through `open`.
    void OpenWith(const std::function<Device*()>& open) {
        op.openUsb = open;
        op.openSerial = [open](const char*) { return open(); };
    }
    // Fills the update's operator and model; the test may change the job before Run().
    void Prepare() {
        update.op = &op;
        op.figures = &update.figures;
        update.row = row_;
    }
    // The returned outcome is the message the operator was shown, word for word; a cancelled
    // update shows none.
    void Run() {
        const size_t before = finalMessages.size();
        outcome = StartBurn(update);
        if (!outcome.shown()) {
            EXPECT_EQ(finalMessages.size(), before);
            EXPECT_STREQ(outcome.caption, "");
            EXPECT_STREQ(outcome.text, "");
            return;
        }
        ASSERT_EQ(finalMessages.size(), before + 1);
        const OperatorEvent& m = finalMessages.back();
        EXPECT_EQ(m.caption, outcome.caption);
        EXPECT_EQ(m.text, outcome.text);
        EXPECT_EQ(m.icon, outcome.icon);
        EXPECT_EQ(m.outcome, outcome.kind);
        EXPECT_EQ(m.erased, outcome.erased);
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

    // Whatever the ending, the panel is cleared and the device closed.
    void ExpectEndedClean() const {
        const Figures& f = update.figures;
        for (int32_t figure : {f.flashStatus.load(), f.progress.load(), f.errCounter.load(),
                               f.totalErrCounter.load(), f.elapsedTime.load()}) {
            EXPECT_EQ(figure, 0);
        }
        EXPECT_EQ(f.done, 0u);
        EXPECT_EQ(f.total, 0u);
        EXPECT_FALSE(link.IsOpen());
        EXPECT_EQ(update.device, &ClosedDevice());
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
    Update update;
    UpdateOutcome outcome;  // what the last StartBurn returned

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
    int row_ = -1;
    bool prompted_ = false;
};

}  // namespace fwburn::test

// For automation: stdout carries one JSON object per line and nothing else; the people's lines go
// to stderr. Progress events come per percent of a phase, with the exact counts.
#include <string>
#include <utility>
#include <vector>

#include "ui/console/show/json_line.hpp"
#include "ui/console/show/screen.hpp"

namespace fwburn::console {

namespace {

class JsonScreen final : public Screen {
  public:
    using Screen::Screen;

    void AddOutcomeField(const char* key, const Json& value) override {
        outcomeFields_[key] = value;
    }
    void PhaseStarted(const ProgressView&, const ProgressView& view, double elapsed) override {
        Event({{"event", "phase"},
               {"phase", PhaseName(view.phase)},
               {"total", view.total},
               {"unit", view.unit()},
               {"elapsed", Fixed(elapsed)}});
        if (view.phase != Phase::Checking) {
            Progress(view, elapsed);
        }
    }
    void Advanced(const ProgressView& view, double elapsed) override {
        if (view.percent != lastPercent_) {
            Progress(view, elapsed);
        }
    }
    void Retried(const ProgressView& view, double elapsed) override {
        Event({{"event", "retry"},
               {"phase", PhaseName(view.phase)},
               {"errCounter", view.errCounter},
               {"totalErrCounter", view.totalErrCounter},
               {"elapsed", Fixed(elapsed)}});
    }
    void Settle(const ProgressView& view, double elapsed) override {
        if (view.phase != Phase::Checking && view.done != lastDone_) {
            Progress(view, elapsed);
        }
    }

  private:
    void Event(const Json& event, bool outcome = false) override {
        Json line = event;
        for (const auto& [key, value] : tagFields_) {
            line[key] = value;
        }
        if (outcome) {
            line.update(outcomeFields_);
        }
        std::fputs(JsonText(line).c_str(), out_);
        std::fflush(out_);
    }
    void Inform(const Json& event, const std::string&) override { Event(event); }
    std::FILE* PeopleOut() override { return err_; }

    void Progress(const ProgressView& view, double elapsed) {
        lastPercent_ = view.percent;
        lastDone_ = view.done;
        Event({{"event", "progress"},
               {"phase", PhaseName(view.phase)},
               {"percent", view.percent},
               {"done", view.done},
               {"total", view.total},
               {"unit", view.unit()},
               {"bytesPerSecond", Fixed(view.bytesPerSecond)},
               {"etaSeconds", Fixed(view.etaSeconds)},
               {"elapsed", Fixed(elapsed)}});
    }

    int lastPercent_ = -1;
    uint32_t lastDone_ = 0;
    Json outcomeFields_ = Json::object();
};

}  // namespace

std::unique_ptr<Screen> MakeJsonScreen(std::FILE* out, std::FILE* err) {
    return std::make_unique<JsonScreen>(out, err);
}

}  // namespace fwburn::console

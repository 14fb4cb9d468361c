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

    void AddOutcomeField(const char* key, const std::string& value) override {
        outcomeFields_.emplace_back(key, JsonString(value));
    }
    void AddOutcomeCount(const char* key, int64_t value) override {
        outcomeFields_.emplace_back(key, std::to_string(value));
    }
    void PhaseStarted(const ProgressView&, const ProgressView& view, double elapsed) override {
        JsonLine line;
        Event(line.Add("event", "phase")
                  .Add("phase", PhaseName(view.phase))
                  .Add("total", view.total)
                  .Add("unit", view.unit())
                  .AddFixed("elapsed", elapsed));
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
        JsonLine line;
        Event(line.Add("event", "retry")
                  .Add("phase", PhaseName(view.phase))
                  .Add("errCounter", view.errCounter)
                  .Add("totalErrCounter", view.totalErrCounter)
                  .AddFixed("elapsed", elapsed));
    }
    void Settle(const ProgressView& view, double elapsed) override {
        if (view.phase != Phase::Checking && view.done != lastDone_) {
            Progress(view, elapsed);
        }
    }

  private:
    void Event(JsonLine& line, bool outcome = false) override {
        AddTag(line);
        if (outcome) {
            for (const auto& field : outcomeFields_) {
                line.AddRaw(field.first.c_str(), field.second);
            }
        }
        std::fputs(line.Text().c_str(), out_);
        std::fflush(out_);
    }
    void Inform(JsonLine& event, const std::string&) override { Event(event); }
    std::FILE* PeopleOut() override { return err_; }

    void Progress(const ProgressView& view, double elapsed) {
        lastPercent_ = view.percent;
        lastDone_ = view.done;
        JsonLine line;
        Event(line.Add("event", "progress")
                  .Add("phase", PhaseName(view.phase))
                  .Add("percent", view.percent)
                  .Add("done", view.done)
                  .Add("total", view.total)
                  .Add("unit", view.unit())
                  .AddFixed("bytesPerSecond", view.bytesPerSecond)
                  .AddFixed("etaSeconds", view.etaSeconds)
                  .AddFixed("elapsed", elapsed));
    }

    int lastPercent_ = -1;
    uint32_t lastDone_ = 0;
    std::vector<std::pair<std::string, std::string>> outcomeFields_;  // values as JSON
};

}  // namespace

std::unique_ptr<Screen> MakeJsonScreen(std::FILE* out, std::FILE* err) {
    return std::make_unique<JsonScreen>(out, err);
}

}  // namespace fwburn::console

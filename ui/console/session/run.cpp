#include "ui/console/session/run.hpp"

#include <cstdio>
#include <system_error>

#include "catalogue/profile.hpp"
#include "ui/console/session/outcome.hpp"
#include "ui/console/show/wording.hpp"

namespace fwburn::console {

Run::Run(Kind k, const Target& t, Host& host, bool yes, uint32_t blockSize)
    : kind(k),
      target(t),
      link(host.MakeLink(t)),
      mailbox([&host] { host.Wake(); }),
      op(mailbox, *link, yes),
      tracker(blockSize) {
    look.port = t.port;
}

Run::~Run() {
    mailbox.Close();  // a worker waiting for a reply would never be joined
    Join();
}

void Run::Join() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void Run::PrepareUpdate(Host& host, const RunInfo& info, ScreenMode mode, bool several, bool usb,
                        bool allowStandIn) {
    screen = Screen::Make(
        mode, host.out(), host.err(), [&host] { return host.Columns(); }, several);
    if (several) {
        screen->Tag("[" + target.Label() + "] ",
                    {{"port", target.port}, {"identity", target.Identity()}});
    }
    update.UseThisBuild();
    update.standInAllowed = allowStandIn;
    update.SetPortName(usb ? "USB" : ShortPortName(target.port).c_str());
    update.op = &op;
    update.sink = &op;
    screen->Start(info);
}

std::string Run::Start(int programRow) {
    try {
        worker_ = std::thread([this, programRow] {
            // Let out of here, an exception would end the process at once (std::terminate): the
            // port left exclusive, its lock file behind, an erase unsaid. The session ends it.
            try {
                Request done;
                if (kind == Kind::kUpdate) {
                    done.outcome = StartBurn(update);
                } else {
                    Probe(programRow);
                }
                mailbox.Send(std::move(done));
            } catch (const std::exception& e) {
                Failed(e.what());
            } catch (...) {
                Failed("an unknown failure");
            }
        });
    } catch (const std::system_error& e) {
        return e.code().message();  // out of threads or memory: refused, like a port that is in use
    }
    return {};
}

void Run::Failed(const char* what) noexcept {
    std::snprintf(failure_, sizeof failure_, "%s", what);
    failed_.store(true, std::memory_order_release);
    mailbox.Wake();
}

// Through the same link as an update, so that the port is opened, traced and let go of alike.
void Run::Probe(int programRow) {
    std::string failure;
    Device* device = link->Open(false, failure);
    if (device == nullptr) {
        look.openFailure = failure;
        look.denied = link->LastOpenDenied();
        return;
    }
    look.opened = true;
    Figures figures;
    Progress progress(figures);
    Channel channel{*device, progress};
    look.report = fwburn::Probe(channel, programRow, ThisBuildProfile().bootIdRule,
                                TheEmbeddedImage().length);
    look.hungUp = link->LastDeviceHungUp();
    link->Close(device);
}

}  // namespace fwburn::console

// The session against a host of the test's own: what it does when a worker fails on its thread.
#include "ui/console/session/session.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "ui/console/cli/options.hpp"
#include "ui/console/session/queued_trace.hpp"

namespace fwburn::console {
namespace {

struct Ended {
    int status;
};

struct Flag final : HeldLock {
    explicit Flag(bool& set) : set_(set) {}
    void Release() override { set_ = true; }
    bool& set_;
};

// A port whose open finds the memory gone.
struct NoMemoryLink final : SessionLink {
    explicit NoMemoryLink(bool& letGo) : letGo_(letGo) {}
    Device* Open(bool, std::string&) override { throw std::bad_alloc(); }
    void Close(Device*) override {}
    std::string OpenedPath() const override { return {}; }
    void ReleaseForExit(Host::Clock::time_point) override { letGo_ = true; }
    void TraceTo(TraceWriter*) override {}
    bool& letGo_;
};

// A port that is not there, or one whose open waits until the process lets it go.
struct WaitingLink final : SessionLink {
    WaitingLink(bool there, std::atomic<bool>& letGo, std::vector<Host::Clock::time_point>& given)
        : there_(there), letGo_(letGo), given_(given) {}
    Device* Open(bool, std::string& failure) override {
        while (there_ && !letGo_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        failure = there_ ? "let go" : "No such file or directory";
        return nullptr;
    }
    void Close(Device*) override {}
    std::string OpenedPath() const override { return {}; }
    void ReleaseForExit(Host::Clock::time_point giveUpAt) override {
        given_.push_back(giveUpAt);
        letGo_ = true;
    }
    void TraceTo(TraceWriter*) override {}
    const bool there_;
    std::atomic<bool>& letGo_;
    std::vector<Host::Clock::time_point>& given_;
};

struct TestHost final : Host {
    ~TestHost() override {
        std::fclose(out_);
        std::fclose(err_);
    }
    std::FILE* out() override { return out_; }
    std::FILE* err() override { return err_; }
    int Columns() override { return 0; }
    void Wake() override { ++wakes; }
    Event Wait(Clock::time_point deadline, bool) override {
        // The signal comes once the workers have said `signalAtWake` things, none of them read.
        if (signalAtWake > 0) {
            while (wakes < signalAtWake) {
                std::this_thread::sleep_for(kPoll);
            }
            Event signal;
            signal.signal = SIGTERM;
            signal.signalName = "SIGTERM";
            signal.signalStatus = 128 + SIGTERM;
            return signal;
        }
        std::this_thread::sleep_until(std::min(deadline, Clock::now() + kPoll));
        return {};
    }
    std::unique_ptr<HeldLock> Lock(const std::vector<std::string>&, bool, const std::string&,
                                   std::string&) override {
        return std::make_unique<Flag>(lockReleased);
    }
    std::string UsbLinkIdentity() override { return "usb-link"; }
    std::unique_ptr<SessionLink> MakeLink(const Target& target) override {
        if (signalAtWake > 0) {
            return std::make_unique<WaitingLink>(target.port != "/dev/ttyGONE", waitingLetGo,
                                                 giveUpAts);
        }
        return std::make_unique<NoMemoryLink>(portLetGo);
    }
    std::unique_ptr<QueuedTrace> OpenTrace(const std::string&, int&) override { return nullptr; }
    bool Drain() override { return true; }
    void LastWords() override {}
    [[noreturn]] void Exit(int status) override { throw Ended{status}; }
    std::vector<UsbPort> Controllers() override { return {}; }
    std::vector<std::string> SerialPorts() override { return {}; }
    std::optional<UsbPort> Describe(const std::string&) override { return std::nullopt; }
    std::string DeviceKey(const std::string& port) override { return port; }
    std::string LockIdentity(const std::string& port) override { return port; }

    std::string Err() { return Text(err_); }
    std::string Out() { return Text(out_); }
    static std::string Text(std::FILE* file) {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        for (int c; (c = std::fgetc(file)) != EOF;) {
            text += static_cast<char>(c);
        }
        return text;
    }

    static constexpr std::chrono::milliseconds kPoll{10};
    std::FILE* out_ = std::tmpfile();
    std::FILE* err_ = std::tmpfile();
    bool lockReleased = false;
    bool portLetGo = false;
    int signalAtWake = 0;
    std::atomic<int> wakes{0};
    std::atomic<bool> waitingLetGo{false};
    std::vector<Clock::time_point> giveUpAts;  // what each port's release was given
};

// A session of `kind` at `options.ports` run to its end on `host`: the status it ended with.
int RunSession(TestHost& host, const Options& options, Run::Kind kind) {
    RunInfo info;
    info.program = "fwburn-test";
    info.row = FindModelRow("ZL500");
    TargetChoice choice;
    for (const std::string& port : options.ports) {
        choice.targets.push_back(Target{port, "", ""});
    }
    try {
        Session session(host, options, info, options.json ? ScreenMode::kJson : ScreenMode::kPlain,
                        info.row, kind);
        session.Run(choice);
    } catch (const Ended& e) {
        return e.status;
    }
    return -1;
}

std::vector<nlohmann::json> Events(TestHost& host) {
    std::vector<nlohmann::json> events;
    std::istringstream out(host.Out());
    for (std::string line; std::getline(out, line);) {
        events.push_back(nlohmann::json::parse(line));
    }
    return events;
}

// Out of memory on a worker's thread: the process ends in order, as for a signal (the port let
// go, the lock released, status 1), never through std::terminate; an update says so. In JSON the
// run still ends with its closing record, each saying what ended it: each look's info object,
// several updates' summary after their outcomes (one update's outcome says so already).
TEST(SessionTest, AWorkersOwnFailureEndsTheRunInOrder) {
    const std::string cause = "a failure of the system (std::bad_alloc)";
    struct Case {
        Run::Kind kind;
        std::vector<std::string> ports;
        std::vector<std::string> events;  // in JSON, the last ones in order; none: plain
    } cases[] = {
        {Run::Kind::kUpdate, {"/dev/ttyTEST0"}, {}},
        {Run::Kind::kLook, {"/dev/ttyTEST0"}, {}},
        {Run::Kind::kLook, {"/dev/ttyTEST0"}, {"info"}},
        {Run::Kind::kLook, {"/dev/ttyTEST0", "/dev/ttyTEST1"}, {"info", "info"}},
        {Run::Kind::kUpdate, {"/dev/ttyTEST0", "/dev/ttyTEST1"}, {"outcome", "outcome", "summary"}},
    };
    for (const Case& c : cases) {
        const bool json = !c.events.empty();
        SCOPED_TRACE(std::string(c.kind == Run::Kind::kUpdate ? "update" : "look") + " of " +
                     std::to_string(c.ports.size()) + (json ? " in JSON" : ""));
        TestHost host;
        Options options;
        options.ports = c.ports;
        options.yes = true;
        options.allowStandIn = true;
        options.json = json;
        EXPECT_EQ(RunSession(host, options, c.kind), 1);
        EXPECT_TRUE(host.portLetGo);
        EXPECT_TRUE(host.lockReleased);
        EXPECT_NE(host.Err().find("std::bad_alloc"), std::string::npos) << host.Err();
        if (!json && c.kind == Run::Kind::kUpdate) {
            EXPECT_NE(host.Err().find("interrupted by " + cause + "; the port is released"),
                      std::string::npos)
                << host.Err();
        }
        const std::vector<nlohmann::json> events =
            json ? Events(host) : std::vector<nlohmann::json>{};
        if (events.size() < c.events.size()) {
            ADD_FAILURE() << "no closing record:\n" << host.Out();
            continue;
        }
        for (size_t i = 0; i < c.events.size(); ++i) {
            const nlohmann::json& e = events[events.size() - c.events.size() + i];
            EXPECT_EQ(e["event"], c.events[i]) << e;
            EXPECT_EQ(e.value("signal", ""), cause) << e;
            EXPECT_EQ(e.value("exitCode", -1), 1) << e;
        }
        if (json && c.events.back() == "summary") {
            for (const nlohmann::json& controller : events.back()["controllers"]) {
                EXPECT_EQ(controller["result"], "interrupted") << controller;
            }
        }
    }
}

// A signal that comes after one look has ended, before the loop has read its end: that look keeps
// its findings in the closing records; only the one still probing was cut short.
TEST(SessionTest, ASignalKeepsTheFindingsOfALookThatHadEnded) {
    TestHost host;
    host.signalAtWake = 1;
    Options options;
    options.ports = {"/dev/ttyGONE", "/dev/ttyTEST1"};
    options.json = true;
    EXPECT_EQ(RunSession(host, options, Run::Kind::kLook), 128 + SIGTERM);
    const std::vector<nlohmann::json> looks = Events(host);
    ASSERT_EQ(looks.size(), 2u) << host.Out();
    EXPECT_EQ(looks[0].value("signal", ""), "") << looks[0];
    EXPECT_EQ(looks[0].value("exitCode", -1), 4) << looks[0];
    EXPECT_EQ(looks[1].value("signal", ""), "SIGTERM") << looks[1];
    EXPECT_EQ(looks[1].value("exitCode", -1), 143) << looks[1];
    // One moment for both ports' workers, not one each.
    ASSERT_EQ(host.giveUpAts.size(), 2u);
    EXPECT_EQ(host.giveUpAts[0], host.giveUpAts[1]);
}

// A signal that comes once an update has come to its end (here this test build's image refused:
// its phase said, then its timer's stop, its final message to follow), before the loop has read
// that: the update keeps its own outcome and status, never told as interrupted.
TEST(SessionTest, ASignalKeepsTheOutcomeOfAnUpdateThatHadEnded) {
    TestHost host;
    host.signalAtWake = 2;
    Options options;
    options.ports = {"/dev/ttyTEST0"};
    options.json = true;
    const int status = RunSession(host, options, Run::Kind::kUpdate);
    EXPECT_NE(status, 128 + SIGTERM);
    std::vector<nlohmann::json> outcomes;
    for (const nlohmann::json& e : Events(host)) {
        if (e["event"] == "outcome") {
            outcomes.push_back(e);
        }
    }
    ASSERT_EQ(outcomes.size(), 1u) << host.Out();
    EXPECT_EQ(outcomes[0].value("exitCode", -1), status) << outcomes[0];
    EXPECT_FALSE(outcomes[0].contains("signal")) << outcomes[0];
    EXPECT_EQ(host.Err().find("interrupted"), std::string::npos) << host.Err();
}

}  // namespace
}  // namespace fwburn::console

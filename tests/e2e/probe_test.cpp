// The probe against the simulated controller: what it reads of each kind of controller, whether
// this program's image fits it and why not, and that it never asks for an update, an erase or a
// block.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "burn/messages.hpp"
#include "burn/probe.hpp"
#include "protocol/result_codes.hpp"
#include "sim/controller.hpp"
#include "sim/sim_link.hpp"
#include "tests/support/test_name.hpp"

namespace fwburn {
namespace {

struct ProbeCase {
    const char* name;
    const char* program;    // the model this program's image is for
    BootIdRule rule;        // the program's bootloader ID rule
    const char* connected;  // the simulated controller
    void (*faults)(sim::Faults&);
    uint8_t mode;
    uint8_t target;  // the address that answered
    const char* models;
    int id;       // the model ID (application) or bootloader ID (boot mode); -1 none read
    int variant;  // the variant register's value; -1 none read
    int version;  // the bootloader version; -1 none read
    bool fits;
    const char* why;  // a part of the reason it does not fit
};

void NoFault(sim::Faults&) {}
void InBootloader(sim::Faults& f) {
    f.bootAtPowerOn = true;
}
void OldBootloader(sim::Faults& f) {
    f.version = sim::BootloaderVersion{1, 1};
}
void UnknownBootloader(sim::Faults& f) {
    f.bootAtPowerOn = true;
    f.bootId = 0x4242;
}
void Silent(sim::Faults& f) {
    f.silent = true;
}
void RunMode(sim::Faults& f) {
    f.runMode = true;
}
// Every reply of `phase` lost: the rest of the controller answers.
template <sim::Phase phase>
void Unanswered(sim::Faults& f) {
    sim::ReplyFault lost;
    lost.phase = phase;
    f.replies.push_back(lost);
}
// Every model-ID query answered with an error reply: flow error at state 2.
void IdRefused(sim::Faults& f) {
    sim::ReplyFault refused;
    refused.phase = sim::Phase::kIdQuery;
    refused.kind = sim::FaultKind::kErrorReply;
    refused.errorClass = 2;
    refused.errorState = 2;
    f.replies.push_back(refused);
}
void VersionUnansweredInBootloader(sim::Faults& f) {
    InBootloader(f);
    Unanswered<sim::Phase::kBootVersion>(f);
}

constexpr auto kCpu = BootIdRule::Cpu;
constexpr auto kAio = BootIdRule::Aio;

// clang-format off
const ProbeCase kCases[] = {
    {"ZL500 program, ZL500", "ZL500", kCpu, "ZL500", NoFault, kApplicationMode, 0x59, "ZL500",
     0x3010, -1, 0x10, true, ""},
    {"ZL500-AIO program, ZL500-AIO", "ZL500-AIO", kAio, "ZL500-AIO", NoFault, kApplicationMode,
     0x5B, "ZL500-AIO", 0x3010, -1, 0x10, true, ""},
    {"ZL500 program, ZL500 in its bootloader", "ZL500", kCpu, "ZL500", InBootloader, kBootMode,
     0x59, "ZL500", 0x3010, -1, 0x10, true, ""},
    {"ZL500 program, ZL600", "ZL500", kCpu, "ZL600", NoFault, kApplicationMode, 0x59, "ZL600",
     0x3000, -1, 0x10, false, "the PLC is a ZL600 (ID 0x3000"},
    {"ZL500 program, ZL500-AIO at the other address", "ZL500", kCpu, "ZL500-AIO", NoFault,
     kApplicationMode, 0x5B, "ZL500-AIO", 0x3010, -1, 0x10, false,
     "the PLC is a ZL500-AIO (ID 0x3010, address 0x5B)"},
    {"ZL500-AIO program, ZL500 at the other address", "ZL500-AIO", kAio, "ZL500", NoFault,
     kApplicationMode, 0x59, "ZL500", 0x3010, -1, 0x10, false, "the PLC is a ZL500 ("},
    {"ZL500-AIO program, a newer bootloader", "ZL500-AIO", kAio, "ZL500-AIO", OldBootloader,
     kApplicationMode, 0x5B, "ZL500-AIO", 0x3010, -1, 0x11, false, "version is unknown"},
    {"ZL500 program, a bootloader of no known model", "ZL500", kCpu, "ZL500", UnknownBootloader,
     kBootMode, 0x59, "", 0x4242, -1, -1, false,
     "the bootloader is that of a model unknown to this program (ID 0x4242, address 0x59)"},
    {"RV7-G program, RV7-G", "RV7-G", kCpu, "RV7-G", NoFault, kApplicationMode, 0x59, "RV7-G",
     0x000C, 0x4138, -1, true, ""},
    {"RV7-G program, RV7-KT5: the variant register tells", "RV7-G", kCpu, "RV7-KT5", NoFault,
     kApplicationMode, 0x59, "RV7-KT5", 0x000C, 0x4135, -1, false,
     "RV7-KT5 is different than RV7-G"},
    {"TQ38 program, TQ38", "TQ38", kCpu, "TQ38", NoFault, kApplicationMode, 0x59, "TQ38", 0x0013,
     28, -1, true, ""},
    {"TQ38 program, TQ38 in its bootloader", "TQ38", kCpu, "TQ38", InBootloader, kBootMode, 0x59,
     "TQ3 or TQ38", 0x0013, -1, -1, true, ""},
    // An unanswered register reads as 0, HU's own value: silence must not pass for the variant.
    {"HU program, the variant register unanswered", "HU", kCpu, "HU",
     Unanswered<sim::Phase::kRegisterRead>, kApplicationMode, 0x59, "HU or HU26", 0x0015, -1, -1,
     false, "PLC DOES NOT respond to the variant read"},
    // The error class and state of a refusal are no model ID.
    {"ZL500 program, the model-ID query refused", "ZL500", kCpu, "ZL500", IdRefused,
     kApplicationMode, 0x59, "", -1, -1, -1, false, "the PLC did not tell its model ID"},
    {"ZL500 program, its bootloader's version unanswered", "ZL500", kCpu, "ZL500",
     VersionUnansweredInBootloader, kBootMode, 0x59, "ZL500", 0x3010, -1, -1, false,
     "PLC DOES NOT respond to the version read"},
    {"TQ38 program, MN6", "TQ38", kCpu, "MN6", NoFault, kApplicationMode, 0x59, "MN6", 0x000E, -1,
     -1, false, "the PLC is a MN6"},
    {"ZL500 program, silent", "ZL500", kCpu, "ZL500", Silent, kNoAcceptableReply, 0x59, "", -1,
     -1, -1, false, "NO RESPONSE @ State 1"},
    {"MN6 program, run mode", "MN6", kCpu, "MN6", RunMode, kRunMode, 0x59, "", -1, -1, -1, false,
     "PLC in RUN MODE"},
    {"ZL500-AIO program, ZL500 in run mode at the other address", "ZL500-AIO", kAio, "ZL500",
     RunMode, kRunMode, 0x59, "", -1, -1, -1, false,
     "PLC in RUN MODE (at address 0x59; this program's image is for ZL500-AIO, address 0x5B)"},
};
// clang-format on

void PrintTo(const ProbeCase& c, std::ostream* os) {
    *os << c.name;
}

// A simulated controller of `model` on an open link, and the channel a probe reads it through.
struct ProbeRig {
    ProbeRig(const char* model, void (*faults)(sim::Faults&), uint32_t imageLength)
        : controller(Config(model, faults, imageLength)), link(controller) {
        EXPECT_TRUE(link.Open());
    }
    static sim::Config Config(const char* model, void (*faults)(sim::Faults&), uint32_t length) {
        sim::Config c;
        c.model = model;
        c.imageLength = length;
        faults(c.faults);
        return c;
    }

    sim::Controller controller;
    sim::SimLink link;
    Figures figures;
    Progress progress{figures};
    Channel channel{link, progress};
};

class Probing : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(Probing, ReadsTheControllerAndJudgesTheFit) {
    const ProbeCase& c = GetParam();
    ProbeRig rig(c.connected, c.faults, 9000);
    const sim::Controller& controller = rig.controller;
    const int row = FindModelRow(c.program);
    const uint32_t length = ModelAt(row).keepsImageTail ? 13096 : 9000;

    const ProbeReport r = Probe(rig.channel, row, c.rule, length);

    EXPECT_EQ(r.mode, c.mode);
    EXPECT_EQ(r.targetByte, c.target);
    EXPECT_STREQ(r.models, c.models);
    const bool boot = c.mode == kBootMode;
    EXPECT_EQ(boot ? r.bootIdRead : r.idRead, c.id >= 0);
    if (c.id >= 0) {
        EXPECT_EQ(boot ? r.bootId : r.id, c.id);
    }
    EXPECT_EQ(r.variantRead, c.variant != -1);
    if (c.variant >= 0) {
        EXPECT_EQ(r.variantValue, c.variant);
    }
    EXPECT_EQ(r.versionRead, c.version >= 0);
    if (c.version >= 0) {
        EXPECT_EQ(r.version, c.version);
    }
    EXPECT_EQ(r.fits, c.fits) << r.why;
    EXPECT_NE(std::string(r.why).find(c.why), std::string::npos) << r.why;
    EXPECT_EQ(r.answered(), c.mode != kNoAcceptableReply);

    // A look only: nothing that changes the controller was asked.
    EXPECT_EQ(controller.requests(sim::Phase::kUpdateRequest), 0u);
    EXPECT_EQ(controller.requests(sim::Phase::kEraseStep), 0u);
    EXPECT_EQ(controller.requests(sim::Phase::kUpdate), 0u);
    EXPECT_EQ(controller.requests(sim::Phase::kBlock), 0u);
    EXPECT_EQ(controller.eraseSteps(), 0u);
    EXPECT_EQ(controller.state(), boot ? sim::State::kBootloader : sim::State::kApplication);
}

INSTANTIATE_TEST_SUITE_P(Controllers, Probing, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return test::TestName(p.param.name); });

TEST(Probing, SilenceIsToldApart) {
    ProbeRig rig(
        "ZL500", [](sim::Faults& f) { f.silent = true; }, 13096);
    const ProbeReport r = Probe(rig.channel, FindModelRow("ZL500"), BootIdRule::Cpu, 13096);
    EXPECT_FALSE(r.answered());
    EXPECT_EQ(r.silence.finding, Finding::NoBytes);
}

// A stray ACK on the line just before the bootloader's first ID reply: the three bytes read then
// carry an ID of no bootloader, one of the real ID's bytes left behind.
class StrayAckBeforeBootId final : public Device {
  public:
    explicit StrayAckBeforeBootId(Device& inner) : inner_(inner) {}
    uint32_t Write(const uint8_t* data, uint32_t length) override {
        if (!sent_ && length == 2 && data[0] == 'I' && data[1] == 'D') {
            sent_ = stray_ = true;
        }
        return inner_.Write(data, length);
    }
    uint32_t Read(uint8_t* buffer, uint32_t length) override {
        if (!stray_ || length == 0) {
            return inner_.Read(buffer, length);
        }
        stray_ = false;
        buffer[0] = 0x06;
        return 1 + inner_.Read(buffer + 1, length - 1);
    }
    bool GetLineSettings(LineSettings& s) override { return inner_.GetLineSettings(s); }
    bool SetLineSettings(const LineSettings& s) override { return inner_.SetLineSettings(s); }
    bool SetTimeouts(const Timeouts& t) override { return inner_.SetTimeouts(t); }
    uint32_t DiscardInput() override { return inner_.DiscardInput(); }
    uint32_t ReadLatencyMs() const override { return inner_.ReadLatencyMs(); }

  private:
    Device& inner_;
    bool sent_ = false;
    bool stray_ = false;
};

TEST(Probing, AStrayByteBeforeTheBootloadersIdIsNoOtherModel) {
    ProbeRig rig("ZL500", InBootloader, 13096);
    StrayAckBeforeBootId line(rig.link);
    Channel channel{line, rig.progress};
    const ProbeReport r = Probe(channel, FindModelRow("ZL500"), BootIdRule::Cpu, 13096);
    EXPECT_EQ(r.mode, kBootMode);
    EXPECT_EQ(r.bootId, 0x3010);
    EXPECT_STREQ(r.models, "ZL500");
    EXPECT_TRUE(r.fits) << r.why;
}

}  // namespace
}  // namespace fwburn

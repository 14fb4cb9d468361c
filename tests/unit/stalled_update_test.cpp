// Whole updates against a controller that stops for a while at one request, then answers every
// request it holds, one after the other: its late replies come after the host's resends and run
// into the next command's. However long the stop, the update must end as it would have without it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "burn/burn.hpp"
#include "catalogue/catalogue.hpp"
#include "tests/support/fake_device.hpp"
#include "tests/support/recording_operator.hpp"
#include "tests/support/replies.hpp"
#include "tests/support/stalled_controller.hpp"
#include "tests/support/test_image.hpp"

namespace fwburn {
namespace {

using test::Bytes;

// Its application until the update request is acknowledged, then its bootloader: every query
// answered, every word and block acknowledged.
struct Controller {
    uint16_t id;
    bool boot = false;
    int updateRequests = 0;

    Bytes Answer(const std::string& request) {
        std::string reply;
        if (request == ":006401590141\r\n" || request == ":0064015B013F\r\n") {
            reply = test::CommandReply(boot ? 6 : 5);
        } else if (request == ":006401594944B5\r\n" || request == ":0064015B4944B3\r\n") {
            reply = test::CommandReply(6, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id));
        } else if (request == ":00640159053D\r\n") {
            reply = test::CommandReply(0x10);  // bootloader 1.0
        } else if (request == ":0003156A00017D\r\n") {
            reply = test::AsciiReply({0x00, 0x03, 0x02, 0x41, 0x38});  // RV7-G
        } else if (request == ":006401594552415345D2\r\n" ||
                   request == ":0064015B4552415345D0\r\n") {
            ++updateRequests;
            reply = test::CommandReply(6);
        } else if (request == ":00640159063C\r\n" || request == ":0064015B063A\r\n") {
            boot = true;
        } else if (request == "ID") {
            return Bytes{0x06, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
        } else if (request == "VERSION") {
            return Bytes{0x06, 0x01, 0x00};
        } else if (boot && request.size() != 9) {  // not a wake frame: a word, a block, an EOT
            return Bytes{0x06};
        }
        return test::ToBytes(reply);
    }
};

TEST(StalledController, TheUpdateEndsAsWithoutTheStop) {
    struct Stall {
        const char* model;
        uint32_t imageLength;
        uint16_t id;
        const char* at;
        const char* name;
    };
    const Stall stalls[] = {
        {"RV7-G", 40000, 12, ":006401590141\r\n", "mode query"},
        {"RV7-G", 40000, 12, ":006401594944B5\r\n", "model-ID query"},
        {"RV7-G", 40000, 12, ":0003156A00017D\r\n", "variant read"},
        {"ZL500-AIO", 11056, 0x3010, ":0064015B013F\r\n", "mode query"},
        {"ZL500-AIO", 11056, 0x3010, ":0064015B4944B3\r\n", "model-ID query"},
        {"ZL500-AIO", 11056, 0x3010, ":00640159053D\r\n", "version query"},
        {"ZL500-AIO", 11056, 0x3010, "ID", "bootloader ID"},
        {"ZL500-AIO", 11056, 0x3010, "VERSION", "bootloader version"},
    };
    for (const Stall& s : stalls) {
        for (int64_t stallMs : {2990, 2998, 3010, 3100, 5000, 6100, 9050}) {
            SCOPED_TRACE(std::string(s.model) + " stopped at its " + s.name + " for " +
                         std::to_string(stallMs) + " ms");
            test::FakeDevice device;
            auto controller = std::make_shared<Controller>(Controller{s.id});
            device.fallback = test::StalledController{
                device, s.at, stallMs,
                [controller](const std::string& request) { return controller->Answer(request); }};
            test::RecordingOperator op;
            op.openSerial = [&device](const char*) { return &device; };
            op.openUsb = [&device] { return &device; };
            const test::TestImage image(s.imageLength, 7);
            Update update;
            image.Job(update, op, FindModelRow(s.model));
            op.figures = &update.figures;

            const UpdateOutcome outcome = StartBurn(update);
            EXPECT_EQ(outcome.kind, OutcomeKind::Success) << outcome.text;
            EXPECT_TRUE(controller->boot);
            // A stale reply read as the update request's own would have it asked again.
            EXPECT_EQ(controller->updateRequests, 1);
        }
    }
}

}  // namespace
}  // namespace fwburn

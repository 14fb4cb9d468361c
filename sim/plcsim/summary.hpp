// What plcsim reports at exit: the controller's state and what it received, as text for people
// and as JSON for scripts and tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/controller.hpp"

namespace fwburn::sim::plcsim {

// What the pseudo-terminal server saw beyond the controller itself.
struct ServedFacts {
    std::string slavePath;
    std::vector<uint32_t> baudRates;  // of the received bytes, each change in order
    uint32_t hostOpens = 0;           // opens of the port by hosts
    uint32_t replugs = 0;
    uint32_t powerCycles = 0;
    uint32_t usbUnplugs = 0;  // times the gadget was unbound from its UDC (--udc-file)
    uint64_t bytesReceived = 0;
    uint64_t bytesSent = 0;
    uint64_t bytesDropped = 0;  // controller output while no host had the port open
    std::string endReason;
};

// The image bytes the blocks carried, in order, without the fill of the last block: at most the
// bytes a correct host sends for the configured image length.
std::vector<uint8_t> ReceivedImage(const Controller& controller);

// `imageMatch`: whether ReceivedImage equals the image file's bytes that a host sends; empty when
// no image file was given.
std::string SummaryText(const Controller& controller, const ServedFacts& facts,
                        std::optional<bool> imageMatch, size_t maxViolations);
std::string SummaryJson(const Controller& controller, const ServedFacts& facts,
                        std::optional<bool> imageMatch);

}  // namespace fwburn::sim::plcsim

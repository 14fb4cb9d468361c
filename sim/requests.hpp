// Recognising the application-mode requests that the controller understands.
#pragma once

#include <cstdint>
#include <vector>

namespace fwburn::sim {

enum class Request {
    kWake,
    kModeQuery,
    kIdQuery,
    kVersionQuery,
    kUpdateRequest,
    kUpdateAck,
    kReadD1386,
    kReadD1148,
    kUnknown,
};
const char* RequestName(Request request);

struct Identified {
    Request request = Request::kUnknown;
    bool hasTarget = false;  // function-0x64 requests name the unit they address
    uint8_t target = 0;
};

// `message` is the decoded frame without its LRC.
Identified Identify(const std::vector<uint8_t>& message);

}  // namespace fwburn::sim

#include "sim/requests.hpp"

namespace fwburn::sim {

namespace {

using Bytes = std::vector<uint8_t>;

// Function 0x64 is 0x01, the target byte, then one of these commands.
struct Command {
    Request request;
    Bytes tail;
};

const Command kCommands[] = {
    {Request::kModeQuery, {0x01}},    {Request::kIdQuery, {'I', 'D'}},
    {Request::kVersionQuery, {0x05}}, {Request::kUpdateRequest, {'E', 'R', 'A', 'S', 'E'}},
    {Request::kUpdateAck, {0x06}},
};

}  // namespace

const char* RequestName(Request request) {
    switch (request) {
        case Request::kWake:
            return "wake frame";
        case Request::kModeQuery:
            return "mode query";
        case Request::kIdQuery:
            return "model-ID query";
        case Request::kVersionQuery:
            return "version query";
        case Request::kUpdateRequest:
            return "update request";
        case Request::kUpdateAck:
            return "update acknowledgement";
        case Request::kReadD1386:
            return "D1386 read";
        case Request::kReadD1148:
            return "D1148 read";
        case Request::kUnknown:
            break;
    }
    return "unknown request";
}

Identified Identify(const Bytes& message) {
    Identified out;
    if (message == Bytes{0x00, 0x7F}) {
        out.request = Request::kWake;
    } else if (message == Bytes{0x00, 0x03, 0x15, 0x6A, 0x00, 0x01}) {
        out.request = Request::kReadD1386;
    } else if (message == Bytes{0x00, 0x03, 0x14, 0x7C, 0x00, 0x01}) {
        out.request = Request::kReadD1148;
    } else if (message.size() >= 5 && message[0] == 0x00 && message[1] == 0x64 &&
               message[2] == 0x01) {
        const Bytes tail(message.begin() + 4, message.end());
        for (const Command& c : kCommands) {
            if (tail == c.tail) {
                out.request = c.request;
                out.hasTarget = true;
                out.target = message[3];
            }
        }
    }
    return out;
}

}  // namespace fwburn::sim

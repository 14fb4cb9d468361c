// Every application-mode request, as the exact characters written (CR LF included).
#pragma once

#include <cstddef>
#include <cstdint>

namespace fwburn {

struct AppRequest {
    const char* name;  // what the request is, for logs and tests
    const char* text;
    uint32_t length;  // characters written, CR LF included
};

// Wake frame of DummyComm: address 0, function 0x7F, no data.
extern const AppRequest kWakeRequest;

// Function 0x64 requests come in two variants by target byte (0x59, or 0x5B for the
// analog-module models); the version query always carries 0x59.
const AppRequest& ModeQueryRequest(uint8_t targetByte);
const AppRequest& ModelIdRequest(uint8_t targetByte);
const AppRequest& UpdateRequest(uint8_t targetByte);
const AppRequest& UpdateAckRequest(uint8_t targetByte);
extern const AppRequest kVersionRequest;
extern const AppRequest kReadD1386Request;
extern const AppRequest kReadD1148Request;

// Every request above, for checks that go over all of them.
extern const AppRequest* const kAllAppRequests[];
extern const size_t kAllAppRequestCount;

constexpr uint32_t kLongReplyLength = 19;   // ":" + 16 hex characters + CR LF
constexpr uint32_t kShortReplyLength = 15;  // ":" + 12 hex characters + CR LF (register reads)
constexpr uint32_t kWakeReplyLength = 11;   // read and thrown away

}  // namespace fwburn

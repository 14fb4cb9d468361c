#include "protocol/requests.hpp"

namespace fwburn {

namespace {

constexpr uint8_t kAnalogTarget = 0x5B;

template <size_t N>
constexpr AppRequest Req(const char* name, const char (&text)[N]) {
    return AppRequest{name, text, static_cast<uint32_t>(N - 1)};
}

const AppRequest kModeQuery59 = Req("mode query", ":006401590141\r\n");
const AppRequest kModeQuery5B = Req("mode query (analog module)", ":0064015B013F\r\n");
const AppRequest kModelId59 = Req("model ID query", ":006401594944B5\r\n");
const AppRequest kModelId5B = Req("model ID query (analog module)", ":0064015B4944B3\r\n");
const AppRequest kUpdate59 = Req("update request", ":006401594552415345D2\r\n");
const AppRequest kUpdate5B = Req("update request (analog module)", ":0064015B4552415345D0\r\n");
const AppRequest kUpdateAck59 = Req("update acknowledgement", ":00640159063C\r\n");
const AppRequest kUpdateAck5B = Req("update acknowledgement (analog module)", ":0064015B063A\r\n");

}  // namespace

const AppRequest kWakeRequest = Req("wake", ":007F81\r\n");
const AppRequest kVersionRequest = Req("bootloader version query", ":00640159053D\r\n");
const AppRequest kReadD1386Request = Req("read D1386", ":0003156A00017D\r\n");
const AppRequest kReadD1148Request = Req("read D1148", ":0003147C00016C\r\n");

const AppRequest& ModeQueryRequest(uint8_t targetByte) {
    return targetByte == kAnalogTarget ? kModeQuery5B : kModeQuery59;
}
const AppRequest& ModelIdRequest(uint8_t targetByte) {
    return targetByte == kAnalogTarget ? kModelId5B : kModelId59;
}
const AppRequest& UpdateRequest(uint8_t targetByte) {
    return targetByte == kAnalogTarget ? kUpdate5B : kUpdate59;
}
const AppRequest& UpdateAckRequest(uint8_t targetByte) {
    return targetByte == kAnalogTarget ? kUpdateAck5B : kUpdateAck59;
}

const AppRequest* const kAllAppRequests[] = {
    &kWakeRequest, &kModeQuery59,    &kModeQuery5B,      &kModelId59,
    &kModelId5B,   &kUpdate59,       &kUpdate5B,         &kUpdateAck59,
    &kUpdateAck5B, &kVersionRequest, &kReadD1386Request, &kReadD1148Request,
};
const size_t kAllAppRequestCount = sizeof(kAllAppRequests) / sizeof(kAllAppRequests[0]);

}  // namespace fwburn

#include "ui/win32/stoppable_device.hpp"

namespace fwburn {

uint32_t StoppableDevice::Write(const uint8_t* data, uint32_t length) {
    return Stopped() ? 0 : inner_.Write(data, length);
}

uint32_t StoppableDevice::Read(uint8_t* buffer, uint32_t length) {
    return Stopped() ? 0 : inner_.Read(buffer, length);
}

bool StoppableDevice::GetLineSettings(LineSettings& settings) {
    return !Stopped() && inner_.GetLineSettings(settings);
}

bool StoppableDevice::SetLineSettings(const LineSettings& settings) {
    return !Stopped() && inner_.SetLineSettings(settings);
}

bool StoppableDevice::SetTimeouts(const Timeouts& timeouts) {
    return !Stopped() && inner_.SetTimeouts(timeouts);
}

uint32_t StoppableDevice::DiscardInput() {
    return Stopped() ? 0 : inner_.DiscardInput();
}

}  // namespace fwburn

#include "protocol/line_setup.hpp"

#include "catalogue/catalogue.hpp"

namespace fwburn {

const Timeouts kWakeTimeouts{kMaxDword, 0, 200, 0, 200};
const Timeouts kCommandTimeouts{kMaxDword, 0, 3000, 0, 3000};

const LineSettings kApplicationLine{
    9600, 7, kEvenParity, kOneStopBit, kControlDisabled, kControlDisabled};
const LineSettings kTransferLine{115200,          8, kNoParity, kOneStopBit, kControlDisabled,
                                 kControlDisabled};

void ChangeLineSettings(Device& device, const LineSettings& wanted) {
    LineSettings settings;
    device.GetLineSettings(settings);
    settings = wanted;
    device.SetLineSettings(settings);
}

void ApplyLineSetup(Device& device, int row, const Timeouts& timeouts) {
    if (!IsUsbLinked(row)) {
        ChangeLineSettings(device, kApplicationLine);
    }
    device.SetTimeouts(timeouts);
}

}  // namespace fwburn

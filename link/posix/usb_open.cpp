#include "link/posix/usb_open.hpp"

#include "link/posix/discovery.hpp"

namespace fwburn::posix {

std::unique_ptr<PosixDevice> OpenUsbController(OpenFailure* failure, const std::string& sysRoot,
                                               const std::string& devRoot) {
    OpenFailure last{OpenError::kMissing, "no controller on a USB port"};
    for (const std::string& path : FindUsbControllerTtys(sysRoot, devRoot)) {
        if (std::unique_ptr<PosixDevice> device = OpenSerialPort(path, &last)) {
            return device;
        }
    }
    if (failure != nullptr) {
        *failure = last;
    }
    return nullptr;
}

}  // namespace fwburn::posix

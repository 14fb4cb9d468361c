// The simulated controller's intake on any bytes, in any pieces, at any line settings: no crash,
// no read past a buffer, and its own output stays well-formed in time.
#include <cstdint>
#include <cstdlib>

#include "sim/controller.hpp"

using namespace fwburn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const auto& models = sim::Models();
    sim::Config config;
    config.model = std::string(models[data[0] % models.size()].name);
    config.imageLength = 4097u + data[1] * 97u;
    sim::Controller controller(config);
    const LineSettings lines[] = {{9600, 7, 2, 0, 0, 0}, {115200, 8, 0, 0, 0, 0}};
    int64_t now = 0;
    size_t pos = 2;
    while (pos < size) {
        const uint8_t control = data[pos++];
        const size_t chunk = control % 64;
        const size_t n = chunk < size - pos ? chunk : size - pos;
        now += control / 64 * 700;  // sometimes long enough to drop a half-received unit
        controller.Receive(data + pos, n, now, (control & 32) != 0 ? nullptr : &lines[control & 1]);
        pos += n;
        if ((control & 16) != 0)
            controller.Replug(now);
        for (const sim::Emission& e : controller.TakeOutput()) {
            if (e.atMs < now)
                abort();
        }
    }
    controller.AdvanceTo(now + 10000);
    if (controller.flash().size() % controller.model().blockSize != 0)
        abort();
    return 0;
}

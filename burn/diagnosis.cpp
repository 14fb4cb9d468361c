#include "burn/diagnosis.hpp"

#include <cstdio>

#include "catalogue/catalogue.hpp"

namespace fwburn {

void ModelNamesForId(uint16_t id, uint8_t targetByte, char* out, size_t size) {
    if (size == 0) {
        return;
    }
    out[0] = '\0';
    size_t used = 0;
    for (int row = 0; row < kModelCount; ++row) {
        const Model& m = kModels[row];
        if (m.targetByte != targetByte || (m.id != id && (m.altId == 0 || m.altId != id))) {
            continue;
        }
        const int n =
            std::snprintf(out + used, size - used, "%s%s", used == 0 ? "" : " or ", m.name);
        if (n < 0 || static_cast<size_t>(n) >= size - used) {
            out[used] = '\0';  // whole names only
            return;
        }
        used += static_cast<size_t>(n);
    }
}

}  // namespace fwburn

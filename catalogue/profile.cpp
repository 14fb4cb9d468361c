#include "catalogue/profile.hpp"

#include <cstring>

namespace fwburn {

bool ImageNameModel(const char* imageName, char (&out)[10]) {
    std::memset(out, 0, sizeof out);
    if (imageName == nullptr) {
        return false;
    }
    size_t length = 0;
    while (imageName[length] != '\0' && imageName[length] != '_') {
        if (length == sizeof out - 1) {
            return false;
        }
        ++length;
    }
    std::memcpy(out, imageName, length);
    return true;
}

}  // namespace fwburn

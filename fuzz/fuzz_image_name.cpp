// The built-in image name's model prefix: never more than 9 characters and a zero, and exactly
// the text before the first "_" whenever it fits.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "catalogue/catalogue.hpp"
#include "catalogue/profile.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    char out[10];
    const bool fits = fwburn::ImageNameModel(name.c_str(), out);
    const std::string prefix = name.c_str();  // the name as C text ends at its first zero
    const std::string wanted = prefix.substr(0, prefix.find('_'));
    if (out[9] != '\0' || std::strlen(out) > 9)
        abort();
    if (fits != (wanted.size() <= 9))
        abort();
    if (fits && wanted != out)
        abort();
    if (!fits && out[0] != '\0')
        abort();
    fwburn::FindModelRow(out);
    return 0;
}

// GoogleTest names of table rows: letters and digits kept, everything else an underscore.
#pragma once

#include <cctype>
#include <string>

namespace fwburn::test {

inline std::string TestName(std::string name) {
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

}  // namespace fwburn::test

#include "platform/web/JSExport.h"

#include <cctype>

namespace platform {

std::string jsNameForSelector(std::string_view selector) {
    std::string name;
    name.reserve(selector.size());
    bool capitalise = false;
    for (char c : selector) {
        if (c == ':') {
            capitalise = true;
            continue;
        }
        name += capitalise ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        capitalise = false;
    }
    return name;
}

}  // namespace platform

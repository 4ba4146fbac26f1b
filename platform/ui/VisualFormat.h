// Internal: the parser of the visual format language (the subset the clients
// use) into constraints. Bad input gives an error message and a position,
// never an exception.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/ui/NSLayoutConstraint.h"

namespace platform {

class VisualFormat {
public:
    struct Result {
        std::vector<Ref<NSLayoutConstraint>> constraints;
        bool ok = true;
        std::string message;  // on failure
        size_t position = 0;  // on failure: offset in the format
    };
    static Result parse(const std::string& format, const Value& metrics,
                        const std::map<std::string, Ref<UIView>>& views);
};

}  // namespace platform

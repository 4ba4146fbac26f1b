// JSON text of a dictionary or array (compact, keys in insertion order).
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class TMAJSONUtil {
public:
    // nullopt, with an error line, for anything else or for values JSON
    // cannot carry (dates, data, objects, non-finite numbers).
    static std::optional<std::string> jsonStringFromObject(const Value& object);
};

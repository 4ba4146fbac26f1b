// JSON text of a dictionary or array (compact, keys in insertion order), and
// text as a string literal a script can hold.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class TMAJSONUtil {
public:
    // nullopt, with an error line, for anything else or for values JSON
    // cannot carry (dates, data, objects, non-finite numbers).
    static std::optional<std::string> jsonStringFromObject(const Value& object);
    // The text as a quoted, escaped JSON string that is also a script string
    // literal (line and paragraph separators escaped too); nullopt for text
    // that is not UTF-8.
    static std::optional<std::string> scriptStringLiteral(const std::string& text);
};

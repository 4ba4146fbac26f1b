// Property lists (binary or XML) to and from the Value graph, for user
// defaults, keyed archives, Info.plist and the device profile.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/NSData.h"
#include "platform/foundation/Value.h"

namespace platform {

class PropertyList {
public:
    enum class Format { Binary, XML };

    // Value → bytes. Null and Object values have no property-list form: the
    // result is nullopt and `error` (when given) names the offending path.
    // Strings that are not valid UTF-8, or that hold a NUL byte, are repaired
    // (replacement character, cut at the NUL) with a log line. Dates come back
    // exactly (binary) or to whole seconds (XML) and are limited to the years
    // 1933–2069, the range the format library carries.
    static std::optional<NSData> dataWithValue(const Value& value, Format format, std::string* error = nullptr);

    // Bytes (binary or XML) → Value. Corrupt, truncated or empty input gives
    // nullopt and one log line naming `source`; never a crash.
    static std::optional<Value> valueWithData(const NSData& data, std::string_view source = "data");

    // An absent file gives nullopt quietly; a corrupt one nullopt and one log
    // line. One that is there but cannot be read now (NSData::readFile) gives
    // nullopt with `*unreadable` set (when given): a caller keeps what the
    // file stands for and never writes over it on that account.
    static std::optional<Value> valueWithContentsOfFile(const std::string& path, bool* unreadable = nullptr);

    // Writes atomically: temporary file in the same folder, fsync, rename, so
    // a crash leaves the old file or the new one. False (and a log line) when
    // the value cannot be converted or the file cannot be written.
    static bool writeToFile(const Value& value, const std::string& path, Format format = Format::Binary);
};

}  // namespace platform

#include "tamarind/TMAJSONUtil.h"

#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSString.h"
#include "tamarind/TMLog.h"

std::optional<std::string> TMAJSONUtil::jsonStringFromObject(const Value& object) {
    if (!object.isArray() && !object.isDictionary()) {
        TMLog::logError("Cannot write JSON text of anything but a dictionary or an array.");
        return std::nullopt;
    }
    Ref<NSError> error;
    auto data = NSJSONSerialization::dataWithJSONObject(object, 0, &error);
    if (!data) {
        TMLog::logError("Cannot write JSON text: %@", error ? error->localizedDescription() : std::string());
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(data->bytes()), data->length());
}

std::optional<std::string> TMAJSONUtil::scriptStringLiteral(const std::string& text) {
    auto data = NSJSONSerialization::dataWithJSONObject(Value(text), NSJSONWritingFragmentsAllowed);
    if (!data) return std::nullopt;
    std::string literal(reinterpret_cast<const char*>(data->bytes()), data->length());
    // JSON leaves U+2028 and U+2029 raw; older script engines end a line there.
    literal = NSString::stringByReplacingOccurrencesOfString(literal, "\xE2\x80\xA8", "\\u2028");
    return NSString::stringByReplacingOccurrencesOfString(literal, "\xE2\x80\xA9", "\\u2029");
}

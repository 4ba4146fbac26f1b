#include "tamarind/TMAJSONUtil.h"

#include "platform/foundation/NSJSONSerialization.h"
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

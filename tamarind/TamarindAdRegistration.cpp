#include "tamarind/TamarindAdRegistration.h"

#include "platform/foundation/NSUserDefaults.h"
#include "tamarind/TMLog.h"

Ref<TamarindAdRegistration> TamarindAdRegistration::sharedRegistration() {
    // Never destroyed: other threads may use it during exit.
    static Ref<TamarindAdRegistration>& shared =
        *new Ref<TamarindAdRegistration>(NSObject::alloc<TamarindAdRegistration>());
    return shared;
}

bool TamarindAdRegistration::setApplicationId(const std::string& applicationId) {
    if (applicationId.find_first_not_of(" \t\r\n") == std::string::npos) {
        TMLog::logError("The application ID must not be empty; it is not registered.");
        return false;
    }
    NSUserDefaults::standardUserDefaults()->setObject(Value(applicationId), kApplicationIdKey);
    return true;
}

std::optional<std::string> TamarindAdRegistration::applicationId() const {
    Value stored = NSUserDefaults::standardUserDefaults()->objectForKey(kApplicationIdKey);
    if (!stored.isString()) return std::nullopt;
    return *stored.string();
}

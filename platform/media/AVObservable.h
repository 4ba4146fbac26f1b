// The key-value observation entry points of the media model classes (player
// "rate" and "status", item "status", layer "readyForDisplay"): observers
// register on the object itself; the class reports its changes.
#pragma once

#include <string>

#include "platform/foundation/KeyValueObserving.h"
#include "platform/runtime/NSObject.h"

namespace platform {

class AVObservable {
public:
    virtual ~AVObservable() = default;

    // `observer` is held weakly; Initial delivers the current value inside this call.
    void addObserver(const Ref<NSObject>& observer, const std::string& keyPath, unsigned long options,
                     void* context) {
        KeyValueObserving::addObserver(observedObject(), observer, keyPath, options, context,
                                       observableValue(keyPath));
    }
    // Not registered: ignored with a log line.
    void removeObserver(const NSObject* observer, const std::string& keyPath, void* context) {
        KeyValueObserving::removeObserver(observedObject(), observer, keyPath, context);
    }
    void removeObserver(const NSObject* observer, const std::string& keyPath) {
        KeyValueObserving::removeObserver(observedObject(), observer, keyPath);
    }

protected:
    // The current value of an observable key path (Null for others).
    virtual Value observableValue(const std::string& keyPath) const = 0;
    virtual NSObject& observedObject() = 0;

    void didChange(const std::string& keyPath, const Value& oldValue, const Value& newValue) {
        KeyValueObserving::didChangeValueForKey(observedObject(), keyPath, oldValue, newValue);
    }
};

}  // namespace platform

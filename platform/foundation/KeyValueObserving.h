// Key-value observation for the model classes that offer it (player rate and
// status, item status, layer readiness): observers register per object and
// key path; the model reports each change with its old and new values.
#pragma once

#include <string>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

enum NSKeyValueObservingOptions : unsigned long {
    NSKeyValueObservingOptionNew = 1,
    NSKeyValueObservingOptionOld = 2,
    NSKeyValueObservingOptionInitial = 4,
};

// Keys of the change dictionary handed to observeValueForKeyPath.
inline constexpr const char* NSKeyValueChangeNewKey = "new";
inline constexpr const char* NSKeyValueChangeOldKey = "old";

class KeyValueObserving {
public:
    // Registers `observer` (held weakly) for `keyPath` of `object` (which
    // must be owned by a Ref). With Initial, the observer is told
    // `currentValue` at once, inside this call.
    static void addObserver(NSObject& object, const Ref<NSObject>& observer, const std::string& keyPath,
                            unsigned long options, void* context, const Value& currentValue = Value());
    // Removes the registration with this observer, key path and context; one
    // that is not registered is ignored with a log line.
    static void removeObserver(const NSObject& object, const NSObject* observer, const std::string& keyPath,
                               void* context);
    // Any context.
    static void removeObserver(const NSObject& object, const NSObject* observer, const std::string& keyPath);

    // The model calls this after `keyPath` changed: every live observer of it
    // is called synchronously, on this thread, in registration order, with
    // {"new", "old"} as its options ask. No lock is held while observers run;
    // an observer's exception is logged and delivery goes on.
    static void didChangeValueForKey(NSObject& object, const std::string& keyPath, const Value& oldValue,
                                     const Value& newValue);
    static bool hasObservers(const NSObject& object, const std::string& keyPath);
};

}  // namespace platform

using platform::KeyValueObserving;
using platform::NSKeyValueChangeNewKey;
using platform::NSKeyValueChangeOldKey;
using platform::NSKeyValueObservingOptionInitial;
using platform::NSKeyValueObservingOptionNew;
using platform::NSKeyValueObservingOptionOld;
using platform::NSKeyValueObservingOptions;

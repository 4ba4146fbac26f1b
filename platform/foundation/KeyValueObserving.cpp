#include "platform/foundation/KeyValueObserving.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"

namespace platform {

namespace {

struct Observation {
    Weak<NSObject> observer;
    const NSObject* observerAddress;
    std::string keyPath;
    unsigned long options;
    void* context;
    bool removed = false;  // guarded by the registry's mutex
};

struct ObservedObject {
    Weak<NSObject> object;  // tells a live object from a new one at a reused address
    std::vector<std::shared_ptr<Observation>> observations;
};

struct ObserverRegistry {
    std::mutex mutex;
    std::unordered_map<const NSObject*, ObservedObject> objects;

    // The live entry of `object`, dropping a stale one left by a dead object.
    ObservedObject* find(const NSObject& object) {
        auto it = objects.find(&object);
        if (it == objects.end()) return nullptr;
        if (it->second.object.expired()) {
            objects.erase(it);
            return nullptr;
        }
        return &it->second;
    }
};

ObserverRegistry& observerRegistry() {
    // Never destroyed: other threads may use it during exit.
    static ObserverRegistry& r = *new ObserverRegistry();
    return r;
}

bool isRemoved(const Observation& observation) {
    std::scoped_lock lock(observerRegistry().mutex);
    return observation.removed;
}

void deliver(const Observation& observation, const Ref<NSObject>& observer, const Ref<NSObject>& object,
             const Value& change) {
    runtime::callAtBoundary(
        [&] { observer->observeValueForKeyPath(observation.keyPath, object, change, observation.context); },
        "key-value observation " + observation.keyPath);
}

}  // namespace

void KeyValueObserving::addObserver(NSObject& object, const Ref<NSObject>& observer, const std::string& keyPath,
                                    unsigned long options, void* context, const Value& currentValue) {
    if (!observer) return;
    Ref<NSObject> self = object.weak_from_this().lock();
    if (!self) {
        log(LogLevel::Error, "key-value observation: " + object.className() + " is not owned by a Ref; not observed");
        return;
    }
    auto observation = std::make_shared<Observation>(Observation{observer, observer.get(), keyPath, options, context, false});
    {
        ObserverRegistry& r = observerRegistry();
        std::scoped_lock lock(r.mutex);
        ObservedObject* entry = r.find(object);
        if (!entry) entry = &(r.objects[&object] = ObservedObject{self, {}});
        entry->observations.push_back(observation);
    }
    if (options & NSKeyValueObservingOptionInitial) {
        Value change = Value(ValueDictionary());
        if (options & NSKeyValueObservingOptionNew) change.set(NSKeyValueChangeNewKey, currentValue);
        deliver(*observation, observer, self, change);
    }
}

void KeyValueObserving::removeObserver(const NSObject& object, const NSObject* observer, const std::string& keyPath,
                                       void* context) {
    ObserverRegistry& r = observerRegistry();
    std::shared_ptr<Observation> removed;  // released after the lock
    std::scoped_lock lock(r.mutex);
    if (ObservedObject* entry = r.find(object)) {
        auto& list = entry->observations;
        // The most recent matching registration goes first, as on the platform.
        auto it = std::find_if(list.rbegin(), list.rend(), [&](const auto& o) {
            return o->observerAddress == observer && o->keyPath == keyPath && (context == nullptr || o->context == context);
        });
        if (it != list.rend()) {
            removed = *it;
            removed->removed = true;
            list.erase(std::next(it).base());
            if (list.empty()) r.objects.erase(&object);
            return;
        }
    }
    log(LogLevel::Warning, "key-value observation: removing an observer not registered for \"" + keyPath + "\" of " +
                               object.className() + "; ignored");
}

void KeyValueObserving::removeObserver(const NSObject& object, const NSObject* observer, const std::string& keyPath) {
    removeObserver(object, observer, keyPath, nullptr);
}

void KeyValueObserving::didChangeValueForKey(NSObject& object, const std::string& keyPath, const Value& oldValue,
                                             const Value& newValue) {
    std::vector<std::shared_ptr<Observation>> targets;
    {
        ObserverRegistry& r = observerRegistry();
        std::scoped_lock lock(r.mutex);
        ObservedObject* entry = r.find(object);
        if (!entry) return;
        auto& list = entry->observations;
        list.erase(std::remove_if(list.begin(), list.end(), [](const auto& o) { return o->observer.expired(); }),
                   list.end());
        for (const auto& o : list)
            if (o->keyPath == keyPath) targets.push_back(o);
    }
    if (targets.empty()) return;
    const Ref<NSObject> self = object.weak_from_this().lock();
    for (const auto& o : targets) {
        if (isRemoved(*o)) continue;  // removed by an earlier observer of this change
        const Ref<NSObject> observer = o->observer.lock();
        if (!observer) continue;
        Value change = Value(ValueDictionary());
        if (o->options & NSKeyValueObservingOptionNew) change.set(NSKeyValueChangeNewKey, newValue);
        if (o->options & NSKeyValueObservingOptionOld) change.set(NSKeyValueChangeOldKey, oldValue);
        deliver(*o, observer, self, change);
    }
}

bool KeyValueObserving::hasObservers(const NSObject& object, const std::string& keyPath) {
    ObserverRegistry& r = observerRegistry();
    std::scoped_lock lock(r.mutex);
    ObservedObject* entry = r.find(object);
    if (!entry) return false;
    return std::any_of(entry->observations.begin(), entry->observations.end(),
                       [&](const auto& o) { return o->keyPath == keyPath && !o->observer.expired(); });
}

}  // namespace platform

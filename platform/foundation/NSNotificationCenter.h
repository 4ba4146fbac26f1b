// Process-wide broadcast of named notifications to registered observers,
// delivered synchronously on the posting thread in registration order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"
#include "platform/runtime/NSOperationQueue.h"

namespace platform {

struct NSNotification {
    std::string name;
    Ref<NSObject> object;
    Value userInfo;
};

class NSNotificationCenter : public NSObject {
public:
    static Ref<NSNotificationCenter> defaultCenter();

    // The observer is held weakly: once it is gone it is skipped and pruned.
    // An empty name or a null object matches any; objects match by identity.
    template <class T>
    void addObserver(const Ref<T>& observer, void (T::*selector)(const NSNotification&), const std::string& name,
                     const Ref<NSObject>& object = nullptr) {
        if (!observer || !selector) return;
        Weak<T> weak = observer;
        add(std::make_shared<Registration>(
            Registration::Kind::Weak, dynamic_cast<const void*>(observer.get()), static_cast<const void*>(observer.get()),
            Weak<const void>(observer), name, object, nullptr,
            [weak, selector](const NSNotification& notification) {
                const Ref<T> strong = weak.lock();
                if (!strong) return false;
                ((*strong).*selector)(notification);
                return true;
            }));
    }

    // The block is held until the returned token is removed. With a queue it
    // is enqueued there; without one it runs on the posting thread.
    Ref<NSObject> addObserverForName(const std::string& name, const Ref<NSObject>& object,
                                     const Ref<NSOperationQueue>& queue,
                                     std::function<void(const NSNotification&)> block);

    // Every registration of `observer` (an observer or a token); usable from
    // destructors.
    void removeObserver(const void* observer);
    // Those matching name (empty: any) and object (null: any).
    void removeObserver(const void* observer, const std::string& name, const Ref<NSObject>& object);
    template <class T>
    void removeObserver(const Ref<T>& observer) {
        removeObserver(static_cast<const void*>(observer.get()));
    }

    // Observers added during a post are not called for it; one removed during
    // a post is not called if not yet reached. No lock is held while observers
    // run; an observer's exception is logged and delivery goes on.
    void postNotificationName(const std::string& name, const Ref<NSObject>& object, const Value& userInfo = Value());
    void postNotification(const NSNotification& notification);

private:
    struct Registration {
        enum class Kind { Weak, Block };
        Registration(Kind kind, const void* key, const void* alias, Weak<const void> owner, std::string name,
                     const Ref<NSObject>& object, Ref<NSOperationQueue> queue,
                     std::function<bool(const NSNotification&)> deliver);

        const Kind kind;
        const void* const key;    // the observer's (most derived) address, or the token's
        const void* const alias;  // the address as registered
        const Weak<const void> owner;
        const std::string name;
        const NSObject* const object;
        const Weak<NSObject> objectWeak;
        const Ref<NSOperationQueue> queue;
        const std::function<bool(const NSNotification&)> deliver;  // false once the observer is gone
        bool removed = false;                                      // guarded by the center's mutex
    };

    void add(std::shared_ptr<Registration> registration);
    bool isRemoved(const Registration& registration) const;

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Registration>> registrations_;
};

}  // namespace platform

using platform::NSNotification;
using platform::NSNotificationCenter;

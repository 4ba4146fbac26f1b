#include "platform/foundation/NSNotificationCenter.h"

#include <algorithm>

#include "platform/runtime/CallCatching.h"

namespace platform {

namespace {

// What addObserverForName hands back: removing it ends the registration.
class NotificationObserverToken : public NSObject {};

}  // namespace

NSNotificationCenter::Registration::Registration(Kind kind, const void* key, const void* alias, Weak<const void> owner,
                                                 std::string name, const Ref<NSObject>& object,
                                                 Ref<NSOperationQueue> queue,
                                                 std::function<bool(const NSNotification&)> deliver)
    : kind(kind),
      key(key),
      alias(alias),
      owner(std::move(owner)),
      name(std::move(name)),
      object(object.get()),
      objectWeak(object),
      queue(std::move(queue)),
      deliver(std::move(deliver)) {}

Ref<NSNotificationCenter> NSNotificationCenter::defaultCenter() {
    // Never destroyed: observers that unregister from their destructors during
    // static teardown at exit still find it.
    static const Ref<NSNotificationCenter>* center =
        new Ref<NSNotificationCenter>(NSNotificationCenter::alloc<NSNotificationCenter>());
    return *center;
}

void NSNotificationCenter::add(std::shared_ptr<Registration> registration) {
    std::scoped_lock lock(mutex_);
    registrations_.push_back(std::move(registration));
}

Ref<NSObject> NSNotificationCenter::addObserverForName(const std::string& name, const Ref<NSObject>& object,
                                                       const Ref<NSOperationQueue>& queue,
                                                       std::function<void(const NSNotification&)> block) {
    auto token = NSObject::alloc<NotificationObserverToken>();
    if (!block) return token;
    auto deliver = [queue, block = std::move(block)](const NSNotification& notification) {
        if (queue) queue->addOperationWithBlock([block, notification] { block(notification); });
        else block(notification);
        return true;
    };
    add(std::make_shared<Registration>(Registration::Kind::Block, token.get(), token.get(), Weak<const void>(), name,
                                       object, queue, std::move(deliver)));
    return token;
}

void NSNotificationCenter::removeObserver(const void* observer) { removeObserver(observer, "", nullptr); }

void NSNotificationCenter::removeObserver(const void* observer, const std::string& name, const Ref<NSObject>& object) {
    if (!observer) return;
    std::vector<std::shared_ptr<Registration>> dropped;  // released after the lock
    std::scoped_lock lock(mutex_);
    auto it = std::remove_if(registrations_.begin(), registrations_.end(), [&](const auto& r) {
        const bool match = (r->key == observer || r->alias == observer) && (name.empty() || r->name == name) &&
                           (!object || r->object == object.get());
        if (match) {
            r->removed = true;
            dropped.push_back(r);
        }
        return match;
    });
    registrations_.erase(it, registrations_.end());
}

bool NSNotificationCenter::isRemoved(const Registration& registration) const {
    std::scoped_lock lock(mutex_);
    return registration.removed;
}

void NSNotificationCenter::postNotificationName(const std::string& name, const Ref<NSObject>& object,
                                                const Value& userInfo) {
    postNotification(NSNotification{name, object, userInfo});
}

void NSNotificationCenter::postNotification(const NSNotification& notification) {
    std::vector<std::shared_ptr<Registration>> targets;
    std::vector<std::shared_ptr<Registration>> expired;  // released after the lock
    {
        std::scoped_lock lock(mutex_);
        auto it = std::remove_if(registrations_.begin(), registrations_.end(), [&](const auto& r) {
            if (r->kind == Registration::Kind::Weak && r->owner.expired()) {
                r->removed = true;
                expired.push_back(r);
                return true;
            }
            return false;
        });
        registrations_.erase(it, registrations_.end());
        for (const auto& r : registrations_) {
            if (!r->name.empty() && r->name != notification.name) continue;
            if (r->object && (r->object != notification.object.get() || r->objectWeak.expired())) continue;
            targets.push_back(r);
        }
    }
    for (const auto& r : targets) {
        if (isRemoved(*r)) continue;
        runtime::callAtBoundary([&] { r->deliver(notification); }, "notification " + notification.name);
    }
}

}  // namespace platform

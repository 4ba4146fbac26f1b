#include "platform/foundation/CLLocationManager.h"

#include "platform/foundation/DeviceProfile.h"
#include "platform/runtime/NSRunLoop.h"

namespace platform {

namespace {

bool authorised(CLAuthorizationStatus status) {
    return status == kCLAuthorizationStatusAuthorizedAlways || status == kCLAuthorizationStatusAuthorizedWhenInUse;
}

}  // namespace

Ref<CLLocation> CLLocation::initWithLatitude(double latitude, double longitude) {
    coordinate_ = CLLocationCoordinate2D{latitude, longitude};
    timestamp_ = NSDate::date();
    return self<CLLocation>();
}

CLAuthorizationStatus CLLocationManager::authorizationStatus() {
    return static_cast<CLAuthorizationStatus>(DeviceProfile::current().locationAuthorizationStatus);
}

Ref<CLLocation> CLLocationManager::location() const {
    const std::optional<DeviceLocation>& fix = DeviceProfile::current().location;
    if (!authorised(authorizationStatus()) || !fix) return nullptr;
    auto location = CLLocation::alloc<CLLocation>()->initWithLatitude(fix->latitude, fix->longitude);
    location->horizontalAccuracy_ = fix->horizontalAccuracy;
    return location;
}

Weak<CLLocationManagerDelegate> CLLocationManager::delegate() const {
    std::scoped_lock lock(mutex_);
    return delegate_;
}

void CLLocationManager::setDelegate(const Ref<CLLocationManagerDelegate>& delegate) {
    std::scoped_lock lock(mutex_);
    delegate_ = delegate;
}

void CLLocationManager::startUpdatingLocation() {
    updating_ = true;
    Ref<CLLocation> current = location();
    if (!current) return;
    const Weak<CLLocationManager> weakSelf = self<CLLocationManager>();
    runtime::postToMainThread([weakSelf, current] {
        const Ref<CLLocationManager> manager = weakSelf.lock();
        if (!manager || !manager->updating_) return;
        if (const Ref<CLLocationManagerDelegate> delegate = manager->delegate().lock())
            delegate->locationManagerDidUpdateLocations(manager, {current});
    });
}

void CLLocationManager::stopUpdatingLocation() { updating_ = false; }

}  // namespace platform

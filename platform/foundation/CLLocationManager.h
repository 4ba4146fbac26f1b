// Coarse location as the device profile states it: the authorisation status,
// the last known location, and delivery of it to a delegate on request.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSError.h"
#include "platform/runtime/NSObject.h"

namespace platform {

enum CLAuthorizationStatus : int {
    kCLAuthorizationStatusNotDetermined = 0,
    kCLAuthorizationStatusRestricted = 1,
    kCLAuthorizationStatusDenied = 2,
    kCLAuthorizationStatusAuthorizedAlways = 3,
    kCLAuthorizationStatusAuthorizedWhenInUse = 4,
};

struct CLLocationCoordinate2D {
    double latitude = 0;
    double longitude = 0;
};

class CLLocation : public NSObject {
public:
    Ref<CLLocation> initWithLatitude(double latitude, double longitude);
    CLLocationCoordinate2D coordinate() const { return coordinate_; }
    double horizontalAccuracy() const { return horizontalAccuracy_; }
    NSDate timestamp() const { return timestamp_; }

private:
    friend class CLLocationManager;
    CLLocationCoordinate2D coordinate_;
    double horizontalAccuracy_ = 0;
    NSDate timestamp_;
};

class CLLocationManager;

class CLLocationManagerDelegate : public virtual NSObjectProtocol {
public:
    virtual void locationManagerDidUpdateLocations(Ref<CLLocationManager> /*manager*/,
                                                   std::vector<Ref<CLLocation>> /*locations*/) {}
};

class CLLocationManager : public NSObject {
public:
    Ref<CLLocationManager> init() { return self<CLLocationManager>(); }
    // The profile's status (default not determined).
    static CLAuthorizationStatus authorizationStatus();
    // The profile's location while authorised; null otherwise or without one.
    Ref<CLLocation> location() const;

    Weak<CLLocationManagerDelegate> delegate() const;
    void setDelegate(const Ref<CLLocationManagerDelegate>& delegate);

    // While authorised and the profile has a location, the delegate gets it
    // on the main thread at a later pass (unless updates stopped meanwhile).
    void startUpdatingLocation();
    void stopUpdatingLocation();

private:
    mutable std::mutex mutex_;
    Weak<CLLocationManagerDelegate> delegate_;
    std::atomic<bool> updating_{false};
};

}  // namespace platform

using platform::CLAuthorizationStatus;
using platform::CLLocation;
using platform::CLLocationCoordinate2D;
using platform::CLLocationManager;
using platform::CLLocationManagerDelegate;
using platform::kCLAuthorizationStatusAuthorizedAlways;
using platform::kCLAuthorizationStatusAuthorizedWhenInUse;
using platform::kCLAuthorizationStatusDenied;
using platform::kCLAuthorizationStatusNotDetermined;
using platform::kCLAuthorizationStatusRestricted;

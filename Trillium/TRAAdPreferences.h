// Ad preferences a publisher passes to an ad load: the user's location
// (TRAUserLocation). The loads turn them into request fields.
#pragma once

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class TRAUserLocation : public NSObject {
public:
    Ref<TRAUserLocation> init() { return self<TRAUserLocation>(); }
    Ref<TRAUserLocation> initWithLatitude(double latitude, double longitude);

    double latitude() const { return latitude_; }
    void setLatitude(double v) { latitude_ = v; }
    double longitude() const { return longitude_; }
    void setLongitude(double v) { longitude_ = v; }

private:
    double latitude_ = 0;
    double longitude_ = 0;
};

class TRAAdPreferences : public NSObject {
public:
    Ref<TRAAdPreferences> init() { return self<TRAAdPreferences>(); }

    const Ref<TRAUserLocation>& userLocation() const { return userLocation_; }
    void setUserLocation(Ref<TRAUserLocation> location) { userLocation_ = std::move(location); }

    // The request fields of these preferences, as a dictionary of strings
    // ("latitude", "longitude" formatted "%g" when a location is set); an
    // empty dictionary without one.
    virtual Value requestFields() const;

private:
    Ref<TRAUserLocation> userLocation_;
};

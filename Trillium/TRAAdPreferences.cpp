#include "Trillium/TRAAdPreferences.h"

#include <cmath>

#include "platform/foundation/NSString.h"

Ref<TRAUserLocation> TRAUserLocation::initWithLatitude(double latitude, double longitude) {
    latitude_ = latitude;
    longitude_ = longitude;
    return self<TRAUserLocation>();
}

Value TRAAdPreferences::requestFields() const {
    Value fields = Value::dictionary({});
    // A location that is not a number would only put "nan" on the wire.
    if (userLocation_ && std::isfinite(userLocation_->latitude()) && std::isfinite(userLocation_->longitude())) {
        fields.set("latitude", NSString::stringWithFormat("%g", userLocation_->latitude()));
        fields.set("longitude", NSString::stringWithFormat("%g", userLocation_->longitude()));
    }
    return fields;
}

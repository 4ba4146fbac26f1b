// Time zones: the device's (from its profile), fixed offsets and named zones
// read from the system's zone database (TZif files), daylight saving included.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/runtime/NSDate.h"
#include "platform/runtime/NSObject.h"

namespace platform {

class NSTimeZone : public NSObject {
public:
    // The device profile's zone (UTC when its name is unknown, with a log line).
    static Ref<NSTimeZone> localTimeZone();
    static Ref<NSTimeZone> systemTimeZone() { return localTimeZone(); }
    static Ref<NSTimeZone> defaultTimeZone() { return localTimeZone(); }
    // "UTC", "GMT", "GMT+5:30", "UTC-0800", or a zone database name such as
    // "Asia/Kolkata"; null when unknown.
    static Ref<NSTimeZone> timeZoneWithName(std::string_view name);
    // "UTC"/"GMT" and fixed "GMT±hh:mm" forms only.
    static Ref<NSTimeZone> timeZoneWithAbbreviation(std::string_view abbreviation);
    static Ref<NSTimeZone> timeZoneForSecondsFromGMT(int64_t seconds);

    const std::string& name() const { return name_; }
    // Offset from UTC now (on the injectable clock) and at a given date.
    int64_t secondsFromGMT() const;
    int64_t secondsFromGMTForDate(const NSDate& date) const;

    std::string description() const override { return name_; }
    bool isEqual(const NSObject& other) const override;
    size_t hash() const override;

    struct Rules;  // zone database rules (opaque)

private:
    std::string name_;
    int64_t fixedOffset_ = 0;
    std::shared_ptr<const Rules> rules_;  // null for a fixed offset
};

}  // namespace platform

using platform::NSTimeZone;

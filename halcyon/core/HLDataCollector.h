// The facts about the device and the application that the client sends to
// its servers. Most are gathered once per SDK and cached; the tracking
// choice ("dnt") and the advertising identifier ("idfa") are read at every
// call, so a change shows in the next request. Used from the task queues:
// the caches are filled under a lock by whichever call comes first.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLSdk;

class HLDataCollector : public NSObject {
public:
    Ref<HLDataCollector> initWithSdk(const Ref<HLSdk>& sdk);

    // "brand", "model", "revision", "locale", "platform", "os", "tz_offset",
    // "carrier" and "country_code" (when known), "orientation_lock", then
    // the fresh "dnt" and "idfa".
    Value deviceInformation();
    // A copy with "dnt" ("true" when tracking is limited) and, when tracking
    // is allowed or slot 99 is on, a non-empty "idfa".
    Value addEphemeralDeviceData(const Value& deviceInformation);
    // "app_name" and "package_name" (when present), "halcyon_sdk_version",
    // "app_version" and "installed_at" (the documents folder's creation date,
    // in whole milliseconds since 1970).
    Value appInformation();

    std::string collectIdfa();
    std::string collectModelRevision();
    float collectTimeZoneOffset();
    std::optional<std::string> collectCarrierName();
    std::optional<std::string> collectCarrierCountryCode();
    // "none", "portrait", "landscape" or "unknown" from the Info.plist's
    // supported orientations.
    std::string collectOrientationLock();

private:
    Weak<HLSdk> sdk_;
    std::mutex mutex_;  // guards the two caches
    Value cachedDeviceInformation_;
    Value cachedAppInformation_;
};

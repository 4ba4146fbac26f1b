// URLs of the client's API endpoint and ad server, the results and
// "settings" of API answers, and the reaction to a refused SDK key. Class
// operations, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLSdk;

class HLConnectionUtils : public NSObject {
public:
    // Slot 11 + path + "?device_token=<slot 5>", or "?api_key=<SDK key>" while
    // there is no device token, the value percent-encoded as every query
    // value is. A missing path raises "No endpoint specified", a null owner
    // "No sdk specified".
    static std::string apiUrl(const std::optional<std::string>& path, const Ref<HLSdk>& sdk);
    // Slot 12 + path, with the same two refusals.
    static std::string adServerUrl(const std::optional<std::string>& path, const Ref<HLSdk>& sdk);
    // Every "http://" made "https://" unless the text already holds "https://".
    static std::optional<std::string> secureEndpointForUrl(const std::optional<std::string>& url);
    // The first element of the "results" array; Null when there is none or
    // the answer's "results" is not an array.
    static Value apiResultFrom(const Value& message);
    // Applies and persists the answer's "settings" object, when it has one.
    static void updateSettingsFor(const Ref<HLSdk>& sdk, const Value& message);
    // 401, -1012, -1013: the device identifiers are forgotten; 418: the client
    // is disabled; other 4xx: its state is reset; anything else: nothing.
    static void handleApiError(int64_t code, const Ref<HLSdk>& sdk);
    // "wifi", "mobile" or "none".
    static std::string networkType();
};

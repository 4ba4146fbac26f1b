// A parsed Tamarind ad answer (see TMAWireContract.h): the creative, its type
// and bridges, the pixels, the cache and no-retry times and the error type.
// An answer that cannot be read (not a JSON object, not UTF-8, a field of the
// wrong kind or out of range) is logged and reads as error type 2 with no
// creative. Immutable once made; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/NSData.h"
#include "tamarind/TMAJSBridgesEnabled.h"
#include "tamarind/TMAWebResponse.h"

class TMAdContent : public NSObject {
public:
    Ref<TMAdContent> initWithWebResponse(const Ref<TMAWebResponse>& response);
    Ref<TMAdContent> initWithData(const NSData& body);

    // errorType 0 and a creative that is not empty.
    bool validAdContent() const;
    const std::optional<std::string>& creativeContent() const { return creative_; }
    // 1 MRAID, 2 HTML, 3 template, 0 unknown.
    int creativeType() const { return creativeType_; }
    // A new record: mraid for types 1 and 3, tamarind when the creative
    // loads "tamarind.js", viewability always; null (logged) without a creative.
    Ref<TMAJSBridgesEnabled> bridgesEnabled() const;
    const std::optional<std::string>& impressionPixelURL() const { return impressionPixel_; }
    const std::optional<std::string>& pixelURL() const { return instrumentationPixel_; }
    int64_t cacheTTL() const { return cacheTTL_; }
    // Capped at 3600 s.
    int64_t noretryTTL() const { return noretryTTL_; }
    // From "errorCode": 200 and 400–499 give 0, any other code 1; an
    // unreadable answer 2.
    int errorType() const { return errorType_; }
    bool isMalformed() const { return malformed_; }

private:
    bool parse(const NSData& body, std::string* why);

    std::optional<std::string> creative_;
    int creativeType_ = 0;
    std::optional<std::string> impressionPixel_;
    std::optional<std::string> instrumentationPixel_;
    int64_t cacheTTL_ = 0;
    int64_t noretryTTL_ = 0;
    int errorType_ = 2;
    bool malformed_ = false;
};

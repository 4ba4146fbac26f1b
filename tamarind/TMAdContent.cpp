#include "tamarind/TMAdContent.h"

#include <cmath>

#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSURL.h"
#include "platform/runtime/Log.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMLog.h"

namespace {

bool isAdPixelURL(const std::string& text) {
    auto url = NSURL::URLWithString(text);
    if (!url) return false;
    std::string scheme = NSString::lowercaseString(url->scheme());
    return (scheme == "http" || scheme == "https") && !url->host().empty();
}

// A whole number of seconds in 0…2^31-1.
bool readTtlField(const Value& v, int64_t* out) {
    if (!v.isInteger() && !v.isDouble()) return false;
    double d = v.doubleValue();
    if (!std::isfinite(d) || d < 0 || d > static_cast<double>(TMAWire::kMaximumTtlField)) return false;
    *out = static_cast<int64_t>(d);
    return true;
}

}  // namespace

Ref<TMAdContent> TMAdContent::initWithWebResponse(const Ref<TMAWebResponse>& response) {
    return initWithData(response ? response->body() : NSData());
}

Ref<TMAdContent> TMAdContent::initWithData(const NSData& body) {
    std::string why;
    if (!parse(body, &why)) {
        // Nothing half-read stays behind.
        creative_.reset();
        impressionPixel_.reset();
        instrumentationPixel_.reset();
        creativeType_ = 0;
        cacheTTL_ = 0;
        noretryTTL_ = 0;
        errorType_ = 2;
        malformed_ = true;
        TMLog::logError("The ad answer was rejected: %@.", platform::shortenedForLog(why));
    }
    return self<TMAdContent>();
}

bool TMAdContent::parse(const NSData& body, std::string* why) {
    if (body.length() > TMAWire::kMaximumAnswerBytes) {
        *why = "it is too large";
        return false;
    }
    auto answer = NSJSONSerialization::JSONObjectWithData(body);
    if (!answer || !answer->isDictionary()) {
        *why = "it is not a JSON object";
        return false;
    }
    auto fail = [why](const char* field, const char* what) {
        *why = NSString::stringWithFormat("\"%@\" %@", field, what);
        return false;
    };
    const Value& code = (*answer)["errorCode"];
    if (!code.isInteger() && !(code.isDouble() && std::isfinite(code.doubleValue())))
        return fail("errorCode", "is not a number");
    int64_t errorCode = code.integerValue();
    errorType_ = (errorCode == 200 || (errorCode >= 400 && errorCode <= 499)) ? 0 : 1;

    auto text = [&](const char* field, std::optional<std::string>* out, bool url) {
        const Value& v = (*answer)[field];
        if (v.isNull()) return true;
        if (!v.isString()) return fail(field, "is not a text");
        if (url && !isAdPixelURL(*v.string())) return fail(field, "is not an http(s) URL");
        *out = *v.string();
        return true;
    };
    if (!text("creative", &creative_, false) || !text("impressionPixel", &impressionPixel_, true) ||
        !text("instrumentationPixel", &instrumentationPixel_, true))
        return false;

    const Value& type = (*answer)["creativeType"];
    if (!type.isNull()) {
        if (!type.isString()) return fail("creativeType", "is not a text");
        for (const auto& entry : TMAWire::kCreativeTypes)
            if (*type.string() == entry.name) creativeType_ = entry.type;
    }
    for (auto [field, out] : {std::pair{"cacheTTL", &cacheTTL_}, std::pair{"noretryTTL", &noretryTTL_}}) {
        const Value& v = (*answer)[field];
        if (!v.isNull() && !readTtlField(v, out)) return fail(field, "is not a number of seconds in range");
    }
    noretryTTL_ = std::min(noretryTTL_, TMAWire::kMaximumNoRetryTtl);
    return true;
}

bool TMAdContent::validAdContent() const { return errorType_ == 0 && creative_ && !creative_->empty(); }

Ref<TMAJSBridgesEnabled> TMAdContent::bridgesEnabled() const {
    if (!creative_ || creative_->empty()) {
        TMLog::logError("No creative HTML in the ad answer: no script bridges.");
        return nullptr;
    }
    auto bridges = TMAJSBridgesEnabled::defaultJSBridgesEnabled();
    bridges->setMraid(creativeType_ == 1 || creativeType_ == 3);
    bridges->setTamarind(NSString::containsString(*creative_, "tamarind.js"));
    bridges->setViewability(true);
    return bridges;
}

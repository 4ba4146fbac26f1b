#include "Trillium/TRAAd.h"

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRATransportHttp.h"
#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSURL.h"
#include "platform/runtime/DispatchQueue.h"

namespace {

// Appends each entry of a dictionary as "&key=value".
void appendFields(std::string& text, const Value& fields) {
    if (const ValueDictionary* entries = fields.dictionary())
        for (const auto& [key, value] : *entries) text += NSString::stringWithFormat("&%@=%@", key, value);
}

Value encodeURLs(const TRAAd::URLList& list) {
    if (!list) return Value();
    Value::Array array;
    for (const std::string& url : *list) array.emplace_back(url);
    return Value(std::move(array));
}

Value encodeFlags(const TRAAd::FlagList& list) {
    if (!list) return Value();
    Value::Array array;
    for (bool flag : *list) array.emplace_back(flag);
    return Value(std::move(array));
}

TRAAd::URLList decodeURLs(const Value& value) {
    if (!value.isArray()) return std::nullopt;
    std::vector<std::string> list;
    for (const Value& v : *value.array()) list.push_back(v.stringValue());
    return list;
}

TRAAd::FlagList decodeFlags(const Value& value) {
    if (!value.isArray()) return std::nullopt;
    std::vector<bool> list;
    for (const Value& v : *value.array()) list.push_back(v.boolValue());
    return list;
}

}  // namespace

void TRAAd::loadAd(const std::optional<std::string>& appId, const std::optional<std::string>& devId,
                   const Value& adPreferences, const Value& params, bool rewardedVideo) {
    uint64_t generation = ++generation_;
    isRewardedVideo_ = rewardedVideo;
    if (!adRequest_) {
        reportFailure("Internal error");
        return;
    }
    if (!appId || appId->empty()) {
        TRALog::error("Application ID is nil or empty.");
        reportFailure("Application ID is nil or empty.");
        return;
    }
    adRequest_->fillApplicationDetails(appId, devId);
    std::string text = TRAMetadata::sharedMetadata()->getAdPlatformHost() + adRequestPath() + adRequest_->getQueryString();
    text += NSString::stringWithFormat("&adType=%lld", adType_);
    if (adType_ == 5 && TRAAdSDKUtils::isEnougthMemoryForVideo()) text += "&video=ENABLED";
    if (rewardedVideo) text += "&rewardedVideo=true";
    appendFields(text, adPreferences);
    appendFields(text, params);

    Weak<TRAAd> weak = self<TRAAd>();
    TRATransportHttp::sendAsynchronousRequest(
        NSString::stringByAddingPercentEscapesUsingEncoding(text),
        [weak, generation](Ref<NSHTTPURLResponse> response, std::optional<NSData> data, Ref<NSError> error) {
            if (auto ad = weak.lock()) ad->didLoad(generation, response, data, error);
        });
}

void TRAAd::didLoad(uint64_t generation, const Ref<NSHTTPURLResponse>& http, const std::optional<NSData>& data,
                    const Ref<NSError>& error) {
    if (generation != generation_) return;  // a newer load took over
    if (error) {
        TRALog::errorf("Ad request failed, no ad is loaded: %@", error->localizedDescription());
        reportFailure(error);
        return;
    }
    int64_t status = http ? http->statusCode() : 0;
    size_t length = data ? data->length() : 0;
    if (status == 204 || (status == 200 && length == 0)) {
        reportFailure("No ad available");
        return;
    }
    if (status != 200) {
        reportFailure(NSString::stringWithFormat("Ad request failed with HTTP status %lld", status));
        return;
    }
    std::optional<std::string> body = NSString::initWithData(*data);
    if (!body) {
        reportFailure("Ad answer is not UTF-8 text");
        return;
    }
    didReceiveAnswer(*body);
}

void TRAAd::reportLoaded() {
    loadDate_ = NSDate::date().timeIntervalSince1970();
    if (auto delegate = adLoadDelegate()) delegate->didFinishLoadAd();
}

void TRAAd::reportFailure(const Ref<NSError>& error) {
    // Never inside the call that started the load, and not after a newer load began.
    Weak<TRAAd> weak = self<TRAAd>();
    uint64_t generation = generation_;
    dispatch_async(dispatch_get_main_queue(), [weak, error, generation] {
        auto ad = weak.lock();
        if (!ad || ad->generation_ != generation) return;
        if (auto delegate = ad->adLoadDelegate()) delegate->finishLoadAdWithError(error);
    });
}

void TRAAd::reportFailure(const std::string& description) {
    TRALog::errorf("Ad load failed: %@", description);
    reportFailure(TRAAdSDKUtils::createErrorWithDescription(description));
}

void TRAAd::encodeWithCoder(NSCoder& coder) const {
    coder.encodeInteger(adType_, "TRACACHEMANAGERAdType");
    coder.encodeObject(adOrientation_, "TRACACHEMANAGERAdOrientation");
    coder.encodeObject(html_, "TRACACHEMANAGERHtml");
    coder.encodeObject(encodeURLs(trackingUrl_), "TRACACHEMANAGERTrackingUrl");
    coder.encodeObject(encodeURLs(closeUrl_), "TRACACHEMANAGERCloseUrl");
    coder.encodeObject(encodeURLs(clickTrackingUrl_), "TRACACHEMANAGERClickTrackingUrl");
    coder.encodeObject(encodeFlags(smartRedirect_), "TRACACHEMANAGERSmartRedirect");
    coder.encodeObject(encodeFlags(trilliumBrowserEnabled_), "TRACACHEMANAGERTrilliumBrowserEnabled");
    coder.encodeObject(Value(videoPref_), "TRACACHEMANAGERVideoPref");
    coder.encodeBool(isRewardedVideo_, "TRACACHEMANAGERIsRewardedVideo");
    if (loadDate_) coder.encodeObject(Value(NSDate::dateWithTimeIntervalSince1970(*loadDate_)), "TRACACHEMANAGERLoadDate");
}

void TRAAd::initWithCoder(const NSCoder& coder) {
    adType_ = coder.decodeIntegerForKey("TRACACHEMANAGERAdType");
    Value orientation = coder.decodeObjectForKey("TRACACHEMANAGERAdOrientation");
    if (orientation.isString()) adOrientation_ = *orientation.string();
    html_ = coder.decodeObjectForKey("TRACACHEMANAGERHtml").stringValue();
    trackingUrl_ = decodeURLs(coder.decodeObjectForKey("TRACACHEMANAGERTrackingUrl"));
    closeUrl_ = decodeURLs(coder.decodeObjectForKey("TRACACHEMANAGERCloseUrl"));
    clickTrackingUrl_ = decodeURLs(coder.decodeObjectForKey("TRACACHEMANAGERClickTrackingUrl"));
    smartRedirect_ = decodeFlags(coder.decodeObjectForKey("TRACACHEMANAGERSmartRedirect"));
    trilliumBrowserEnabled_ = decodeFlags(coder.decodeObjectForKey("TRACACHEMANAGERTrilliumBrowserEnabled"));
    videoPref_ = coder.decodeObjectForKey("TRACACHEMANAGERVideoPref").object<TRAAdVideoPreferences>();
    isRewardedVideo_ = coder.decodeBoolForKey("TRACACHEMANAGERIsRewardedVideo");
    Value loaded = coder.decodeObjectForKey("TRACACHEMANAGERLoadDate");
    if (loaded.isDate()) loadDate_ = loaded.date()->timeIntervalSince1970();
}

#include "halcyon/core/HLTaskRenderNativeAd.h"

#include <stdexcept>

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLUtils.h"
#include "halcyon/core/HLValueUtils.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"

namespace {
constexpr int32_t kHLNativeRenderRejected = -700;
constexpr int32_t kHLNativeRenderDropped = -1;

// The keys an ad object carries as text.
constexpr const char* kHLNativeRenderTextKeys[] = {"clcode",    "title",     "description", "cta",       "icon_url",
                                                   "image_url", "video_url", "star_rating", "event_id"};

// The text under `key`: nullopt when absent or null.
std::optional<std::string> hlNativeRenderText(const Value& object, const char* key) {
    const std::string* text = object[key].string();
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

std::optional<std::string> hlNativeRenderReplace(const std::optional<std::string>& text, const char* macro,
                                                 const std::optional<std::string>& value, HLRenderBudget& budget) {
    if (!text) return std::nullopt;
    return budget.expand(*text, macro, value.value_or(""));
}

std::optional<std::string> hlNativeRenderOptionalTemplate(const Value& settings, const char* key,
                                                          const std::optional<std::string>& clCode,
                                                          HLRenderBudget& budget) {
    const Value& text = settings[key];
    if (!HLUtils::hl_isValidString(text)) return std::nullopt;
    return hlNativeRenderReplace(*text.string(), "{CLCODE}", clCode, budget);
}
}  // namespace

Ref<HLTaskRenderNativeAd> HLTaskRenderNativeAd::initWithSdk(const Ref<HLSdk>& sdk, Value adResponse,
                                                            Ref<HLNativeAdLoadDelegate> nativeAdLoadDelegate) {
    HLTask::initWithSdk(sdk);
    json_ = std::move(adResponse);
    nativeAdLoadDelegate_ = std::move(nativeAdLoadDelegate);
    return self<HLTaskRenderNativeAd>();
}

void HLTaskRenderNativeAd::run() {
    if (!json_.isDictionary() || json_.count() == 0) {
        logger()->e(tag(), "Attempting to run task with empty ad response");
        fail(kHLNativeRenderRejected);
        return;
    }
    performRender(json_);
}

void HLTaskRenderNativeAd::taskDropped() { fail(kHLNativeRenderDropped); }

void HLTaskRenderNativeAd::fail(int32_t code) {
    HLNotifyNativeAdsFailed(nativeAdLoadDelegate_, sdk()->nativeAdService(), code);
}

// ---- Templates

std::optional<std::string> HLTaskRenderNativeAd::simpURLWithSettings(const Value& settings,
                                                                     const std::optional<std::string>& clCode,
                                                                     HLRenderBudget& budget) {
    const Value& text = settings["simp_url"];
    if (!HLUtils::hl_isValidString(text)) throw std::invalid_argument("sIMP URL must be present; ad is invalid");
    return hlNativeRenderReplace(*text.string(), "{CLCODE}", clCode, budget);
}

std::optional<std::string> HLTaskRenderNativeAd::clickURLWithSettings(const Value& settings,
                                                                      const std::optional<std::string>& clCode,
                                                                      const std::optional<std::string>& eventId,
                                                                      HLRenderBudget& budget) {
    const Value& text = settings["click_url"];
    if (!HLUtils::hl_isValidString(text)) throw std::invalid_argument("Click must be present; ad is invalid");
    return hlNativeRenderReplace(hlNativeRenderReplace(*text.string(), "{CLCODE}", clCode, budget), "{EVENT_ID}",
                                 eventId, budget);
}

std::optional<std::string> HLTaskRenderNativeAd::videoStartURLWithSettings(const Value& settings,
                                                                           const std::optional<std::string>& clCode,
                                                                           HLRenderBudget& budget) {
    return hlNativeRenderOptionalTemplate(settings, "video_start_url", clCode, budget);
}

std::optional<std::string> HLTaskRenderNativeAd::videoEndURLWithSettings(const Value& settings,
                                                                         const std::optional<std::string>& clCode,
                                                                         HLRenderBudget& budget) {
    return hlNativeRenderOptionalTemplate(settings, "video_end_url", clCode, budget);
}

// ---- Rendering

void HLTaskRenderNativeAd::performRender(const Value& json) {
    std::optional<std::vector<Ref<HLNativeAd>>> ads;
    // Whatever goes wrong while reading the answer still ends the load.
    if (auto caught = platform::runtime::callCatching([&] { ads = renderAds(json); })) {
        logger()->e(tag(), "Unable to render native ads: %@", platform::shortenedForLog(*caught));
        ads.reset();
    }
    if (!ads) {
        fail(kHLNativeRenderRejected);
        return;
    }
    HLNotifyNativeAdsLoaded(nativeAdLoadDelegate_, sdk()->nativeAdService(), *ads);
}

std::optional<std::vector<Ref<HLNativeAd>>> HLTaskRenderNativeAd::renderAds(const Value& json) {
    const Value& settings = json["native_settings"];
    const Value& list = json["native_ads"];
    if (!list.isNull() && !list.isArray()) {
        logger()->e(tag(), "The answer's \"native_ads\" is not a list; no ads rendered");
        return std::nullopt;
    }
    std::vector<Ref<HLNativeAd>> ads;
    const Value::Array* objects = list.array();
    if (!objects) return ads;
    ads.reserve(objects->size());
    HLRenderBudget budget;
    for (size_t i = 0; i < objects->size(); ++i) {
        Ref<HLNativeAd> ad;
        try {
            ad = renderAd((*objects)[i], settings, i, budget);
        } catch (const std::invalid_argument& rejected) {
            // The templates are shared: one rejection rejects the answer.
            logger()->e(tag(), "%@", rejected.what());
            return std::nullopt;
        }
        // Stopped at once: nothing more is built past the bound.
        if (budget.isSpent()) {
            logger()->e(tag(), "Unable to render native ads: %@", budget.failure());
            return std::nullopt;
        }
        if (!ad) continue;
        ads.push_back(ad);
        logger()->d(tag(), "Prepared ad: %@", hlValueForLog(ad->adIdNumber()));
    }
    return ads;
}

Ref<HLNativeAd> HLTaskRenderNativeAd::renderAd(const Value& object, const Value& settings, size_t index,
                                               HLRenderBudget& budget) {
    const unsigned long position = static_cast<unsigned long>(index);
    if (!object.isDictionary()) {
        logger()->w(tag(), "Skipping native ad %lu: not an object", position);
        return nullptr;
    }
    for (const char* key : kHLNativeRenderTextKeys) {
        const Value& value = object[key];
        if (!value.isNull() && !value.isString()) {
            logger()->w(tag(), "Skipping native ad %lu: \"%@\" is not a string", position, key);
            return nullptr;
        }
    }
    const Value& adId = object["ad_id"];
    if (!adId.isNull() && !adId.isString() && !adId.isInteger() && !adId.isDouble()) {
        logger()->w(tag(), "Skipping native ad %lu: \"ad_id\" is neither a string nor a number", position);
        return nullptr;
    }
    // An address that is there but does not parse leaves the application
    // nothing to show or to hit.
    bool unusable = false;
    auto address = [&](const char* what, const std::optional<std::string>& text) -> Ref<NSURL> {
        // An empty text is no address, as a missing one.
        if (!text || text->empty() || unusable || !budget.admitAddress(*text)) return nullptr;
        Ref<NSURL> url = HLUtils::hl_asURL(*text);
        if (!url) {
            logger()->w(tag(), "Skipping native ad %lu: its %@ \"%@\" is no URL", position, what,
                        platform::urlForLog(*text));
            unusable = true;
        }
        return url;
    };

    auto ad = NSObject::alloc<HLNativeAd>()->init();
    const std::optional<std::string> clCode = hlNativeRenderText(object, "clcode");
    ad->setParentSdk(sdk());
    ad->setTitle(hlNativeRenderText(object, "title"));
    ad->setDescriptionText(hlNativeRenderText(object, "description"));
    ad->setCtaText(hlNativeRenderText(object, "cta"));
    ad->setSourceIconURL(address("icon address", hlNativeRenderText(object, "icon_url")));
    ad->setSourceImageURL(address("image address", hlNativeRenderText(object, "image_url")));
    ad->setSourceVideoURL(address("video address", hlNativeRenderText(object, "video_url")));
    // No rating at all when the answer gives none.
    if (object["star_rating"].isString()) ad->setStarRating(HLUtils::hl_numberWithString(object["star_rating"]));
    ad->setClCode(clCode);
    ad->setImpressionTrackingURL(address("impression address", simpURLWithSettings(settings, clCode, budget)));
    const std::optional<std::string> eventId = hlNativeRenderText(object, "event_id");
    ad->setClickURL(address("click address", clickURLWithSettings(settings, clCode, eventId, budget)));
    ad->setVideoStartTrackingURL(address("video-start address", videoStartURLWithSettings(settings, clCode, budget)));
    ad->setVideoEndTrackingURL(address("video-end address", videoEndURLWithSettings(settings, clCode, budget)));
    if (const std::string* text = adId.string()) ad->setAdIdNumber(HLUtils::hl_numberValue(*text).value_or(Value()));
    else ad->setAdIdNumber(adId);
    if (unusable) return nullptr;
    ad->setIconURL(ad->sourceIconURL());
    ad->setImageURL(ad->sourceImageURL());
    ad->setVideoURL(ad->sourceVideoURL());
    return ad;
}

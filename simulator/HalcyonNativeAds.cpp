// The native side of the Halcyon service: the "nad" answer and the native
// resource files. Written with the platform's JSON writer from values the
// test sets, apart from the client's reader.
#include <algorithm>

#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSString.h"
#include "simulator/HalcyonService.h"

namespace simulator {

namespace {
// A 2×2 green PNG: what native icons and images are.
std::string hlNativeServicePng() {
    static const unsigned char png[] = {
        0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00,
        0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x06, 0x00, 0x00, 0x00, 0x72, 0xb6, 0x0d, 0x24, 0x00,
        0x00, 0x00, 0x11, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0x30, 0x98, 0x90, 0xf0, 0x1f, 0x84, 0x19,
        0x60, 0x0c, 0x00, 0x47, 0xf4, 0x08, 0x7d, 0xe0, 0x1f, 0x0f, 0xc5, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45,
        0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    return std::string(reinterpret_cast<const char*>(png), sizeof png);
}
}  // namespace

void HalcyonService::setNativeAnswer(std::optional<HalcyonNativeAnswer> answer) {
    std::scoped_lock lock(mutex_);
    nativeAnswer_ = std::move(answer);
}

std::string HalcyonService::nativeResourceUrl(std::string_view name) const {
    return server_.url(kNativeResourceBasePath) + std::string(name);
}

size_t HalcyonService::nativeResourceRequestCount(std::string_view name) const {
    return server_.requestsTo(std::string(kNativeResourceBasePath) + std::string(name)).size();
}

std::vector<QueryFields> HalcyonService::nativeRequestQueries() const {
    std::vector<QueryFields> queries;
    for (const RecordedRequest& request : server_.requestsTo(kNativeAdPath))
        queries.push_back(parseQueryFields(request.query.value_or("")));
    return queries;
}

std::string HalcyonService::nativeAnswerJson(const HalcyonNativeAnswer& answer, const RecordedRequest& request) {
    const std::string resources = server_.url(kNativeResourceBasePath);
    const std::string base = server_.url("/");
    auto text = [&](const std::optional<std::string>& value) {
        return value ? Value(fillPlaceholders(*value, resources, base)) : Value();
    };
    Value settings = Value::dictionary({});
    auto setting = [&](const char* key, const std::optional<std::string>& value) {
        if (value) settings.set(key, text(value));
    };
    setting("simp_url", answer.simpUrl);
    setting("click_url", answer.clickUrl);
    setting("video_start_url", answer.videoStartUrl);
    setting("video_end_url", answer.videoEndUrl);

    std::vector<HalcyonNativeAd> ads;
    if (answer.ads) {
        ads = *answer.ads;
    } else {
        const int64_t wanted = NSString::integerValue(requestField(request, "slot_count").value_or("1"));
        ads.resize(static_cast<size_t>(std::clamp<int64_t>(wanted, 0, HalcyonNativeAnswer::kMaximumGeneratedAds)));
    }
    Value list = Value::array({});
    for (HalcyonNativeAd& ad : ads) {
        int64_t id;
        {
            std::scoped_lock lock(mutex_);
            id = ad.adId.value_or(nextNativeAdId_++);
        }
        const std::string n = std::to_string(id);
        if (!answer.ads && answer.generatedAdsHaveVideos) ad.videoUrl = "{RES}video-" + n + ".mp4";
        Value object = Value::dictionary({});
        auto member = [&](const char* key, const std::optional<std::string>& value) {
            if (value) object.set(key, text(value));
        };
        if (ad.adIdAsString) object.set("ad_id", n);
        else object.set("ad_id", Value(static_cast<long long>(id)));
        member("clcode", ad.clcode.value_or("ncl-" + n));
        member("title", ad.title.value_or("Native ad " + n));
        member("description", ad.description);
        member("cta", ad.cta);
        member("icon_url", ad.iconUrl.value_or("{RES}icon-" + n + ".png"));
        member("image_url", ad.imageUrl.value_or("{RES}image-" + n + ".png"));
        member("video_url", ad.videoUrl);
        member("star_rating", ad.starRating);
        member("event_id", ad.eventId.value_or("ev-" + n));
        if (const Value::Dictionary* extra = ad.extraMembers.dictionary())
            for (const auto& [key, value] : *extra) object.set(key, value);
        list.append(std::move(object));
    }
    Value json = Value::dictionary({{"native_settings", settings}, {"native_ads", list}});
    if (answer.settingsJson)
        if (auto parsed = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(*answer.settingsJson)))
            json.set("settings", *parsed);
    auto data = NSJSONSerialization::dataWithJSONObject(json);
    return data ? data->toString() : std::string("{}");
}

std::optional<Answer> HalcyonService::nativeAnswer(const RecordedRequest& request) {
    if (request.path == kNativeAdPath) {
        std::optional<HalcyonNativeAnswer> answer;
        {
            std::scoped_lock lock(mutex_);
            answer = nativeAnswer_;
        }
        if (!answer) return Answer::withStatus(204);
        return Answer::ok(nativeAnswerJson(*answer, request)).header("Content-Type", "application/json");
    }
    if (request.path.rfind(kNativeResourceBasePath, 0) == 0) {
        const std::string name = request.path.substr(std::string_view(kNativeResourceBasePath).size());
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mp4") == 0)
            return Answer::ok("native video " + name).header("Content-Type", "video/mp4");
        return Answer::ok(hlNativeServicePng()).header("Content-Type", "image/png");
    }
    // The impression, click and video addresses the native templates name.
    if (request.path.rfind(kNativeTrackingBasePath, 0) == 0) return Answer::ok();
    return std::nullopt;
}

}  // namespace simulator

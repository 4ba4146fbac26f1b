// What the Halcyon ad server's native path ("/ads/nad") answers, as the
// service writes it: the "native_settings" address templates shared by the
// ads, and the "native_ads" list. In every text "{RES}" stands for the
// native resource prefix on the http listener
// ("http://127.0.0.1:<port>/res/native/") and "{BASE}" for the server
// ("http://127.0.0.1:<port>/"); "{CLCODE}" and "{EVENT_ID}" are left for the
// client to fill. Files under "/res/native/" answer 200: a short video body
// for ".mp4" names, a PNG for any other name (scripted answers for a path
// come first: 404s, error pages, empty bodies, stalls); the tracking paths
// the templates name ("/track/native_…") answer 200.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

namespace simulator {

struct HalcyonNativeAd {
    std::optional<int64_t> adId;  // default: 1, 2, … from the service's counter
    bool adIdAsString = false;    // "ad_id" sent as "12" rather than 12
    std::optional<std::string> clcode;  // default: "ncl-<id>"
    std::optional<std::string> title;   // default: "Native ad <id>"
    std::optional<std::string> description = std::string("A native ad of the Halcyon service");
    std::optional<std::string> cta = std::string("Install");
    std::optional<std::string> iconUrl;   // default: "{RES}icon-<id>.png"
    std::optional<std::string> imageUrl;  // default: "{RES}image-<id>.png"
    std::optional<std::string> videoUrl;
    std::optional<std::string> starRating = std::string("4.5");
    std::optional<std::string> eventId;  // default: "ev-<id>"
    // Members set last, of any kind (they replace the ones above): the way
    // to send a key of the wrong kind.
    Value extraMembers = Value::dictionary({});
};

struct HalcyonNativeAnswer {
    std::optional<std::string> simpUrl = std::string("{BASE}track/native_imp?clcode={CLCODE}");
    std::optional<std::string> clickUrl = std::string("{BASE}track/native_click?clcode={CLCODE}&event={EVENT_ID}");
    std::optional<std::string> videoStartUrl = std::string("{BASE}track/native_video_start?clcode={CLCODE}");
    std::optional<std::string> videoEndUrl = std::string("{BASE}track/native_video_end?clcode={CLCODE}");
    // The ads listed. Nullopt: as many as the request's "slot_count" (at
    // most kMaximumGeneratedAds), each with the defaults above.
    std::optional<std::vector<HalcyonNativeAd>> ads;
    // Every generated ad gets "{RES}video-<id>.mp4".
    bool generatedAdsHaveVideos = false;
    std::optional<std::string> settingsJson;  // the answer's "settings" object

    static constexpr int64_t kMaximumGeneratedAds = 20;
};

}  // namespace simulator

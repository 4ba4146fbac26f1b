#include "simulator/TrilliumVideoAds.h"

#include "platform/foundation/NSJSONSerialization.h"
#include "platform/media/TestMp4.h"

namespace simulator {

namespace {

// The page's side of the video screen: a `videoApi` that records every call
// as "name(arg,arg)" in `videoApiCalls`, and the scheme switch the screen
// calls after each load.
constexpr const char* kVideoPageScript = R"JS(<script>
var videoApiCalls = [];
function recordVideoApi(name) {
  return function() { videoApiCalls.push(name + "(" + Array.prototype.slice.call(arguments).join(",") + ")"); };
}
var videoApi = {};
["setMode", "setSkippable", "setSkipTimer", "setVideoFrame", "setVideoDuration", "setVideoCurrentPosition",
 "setCloseable", "setSound"].forEach(function(name) { videoApi[name] = recordVideoApi(name); });
var enabledSchemes = [];
function enableScheme(name) { enabledSchemes.push(name); }
</script>)JS";

}  // namespace

std::string TrilliumVideoAds::url(std::string_view path) const {
    return origin_.empty() ? service_.server().url(path) : origin_ + std::string(path);
}

std::string TrilliumVideoAds::videoUrl(std::string_view file) const {
    return url(std::string(kVideoFolder) + std::string(file));
}

std::string TrilliumVideoAds::videoJson(const TrilliumVideoAd& ad) const {
    Value json = Value::dictionary({{"videoUrl", ad.url.empty() ? videoUrl(ad.file) : ad.url}});
    if (ad.events) {
        const char* keys[] = {"videoProgressUrl", "videoRewardedUrl", "videoClosedUrl",
                              "videoSkippedUrl", "videoSoundUrl", "videoPostRollImpressionUrl",
                              "videoPostRollClosedUrl", "videoPausedUrl", "videoResumedUrl"};
        for (size_t i = 0; i < std::size(keys); ++i)
            json.set(keys[i], url(std::string(TrilliumService::kVideoEventPath) + "?d=" + kEventNames[i]));
    }
    if (!ad.postRoll.empty()) json.set("postRoll", ad.postRoll);
    json.set("skippable", ad.skippable);
    json.set("skippableAfter", static_cast<int64_t>(ad.skippableAfter));
    json.set("closeable", ad.closeable);
    auto data = NSJSONSerialization::dataWithJSONObject(json);
    return data ? data->toString() : std::string();
}

std::string TrilliumVideoAds::videoAdPage(const TrilliumVideoAd& ad) const {
    TrilliumHtmlAd page = ad.page;
    page.body = kVideoPageScript + page.body;
    page.videoJson = videoJson(ad);
    return service_.htmlAdPage(page);
}

void TrilliumVideoAds::setVideoAd(const TrilliumVideoAd& ad, double seconds) {
    service_.setHtmlAd(videoAdPage(ad));
    serveFile(ad.file, mp4File(TrilliumVideoFile::Valid, seconds));
}

std::string TrilliumVideoAds::mp4File(TrilliumVideoFile kind, double seconds) {
    bool video = kind != TrilliumVideoFile::NoVideoTrack;
    if (kind == TrilliumVideoFile::ZeroDuration) seconds = 0;
    std::vector<uint8_t> bytes = platform::testing::testMp4Bytes(seconds, 600, video ? 320 : 0, video ? 180 : 0, true);
    // Cut inside the movie header, so that the file no longer opens.
    if (kind == TrilliumVideoFile::Truncated) bytes.resize(bytes.size() / 3);
    return std::string(bytes.begin(), bytes.end());
}

void TrilliumVideoAds::serveFile(std::string_view file, std::string bytes) {
    serveFile(file, Answer::ok(std::move(bytes)).header("Content-Type", "video/mp4"));
}

void TrilliumVideoAds::serveFile(std::string_view file, Answer answer) {
    service_.server().route("GET", std::string(kVideoFolder) + std::string(file), std::move(answer));
}

void TrilliumVideoAds::serveFile(std::string_view file, std::vector<Answer> answers) {
    service_.server().route("GET", std::string(kVideoFolder) + std::string(file), std::move(answers));
}

Answer TrilliumVideoAds::loginPage() {
    return Answer::ok("<!DOCTYPE html><html><head><title>Sign in</title></head><body><form method=\"post\" "
                      "action=\"/login\"><input name=\"room\"><button>Connect</button></form></body></html>")
        .header("Content-Type", "text/html; charset=utf-8")
        .header("Cache-Control", "no-store");
}

std::vector<TrilliumRequest> TrilliumVideoAds::fileRequests(std::string_view file) const {
    return service_.requestsTo(std::string(kVideoFolder) + std::string(file));
}

std::vector<TrilliumRequest> TrilliumVideoAds::events(std::string_view name) const {
    std::vector<TrilliumRequest> list;
    for (auto& request : events())
        if (request.field("d") == name) list.push_back(request);
    return list;
}

std::vector<TrilliumRequest> TrilliumVideoAds::events() const {
    return service_.requestsTo(TrilliumService::kVideoEventPath);
}

}  // namespace simulator

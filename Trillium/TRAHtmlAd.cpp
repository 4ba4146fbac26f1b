#include "Trillium/TRAHtmlAd.h"

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRADisplayHooks.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAWireContract.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/runtime/DispatchQueue.h"

namespace {

// The text between the first two occurrences of `marker`; nullopt when there
// are fewer than two.
std::optional<std::string_view> betweenMarkers(std::string_view text, std::string_view marker) {
    size_t first = text.find(marker);
    if (first == std::string_view::npos) return std::nullopt;
    size_t start = first + marker.size();
    size_t second = text.find(marker, start);
    if (second == std::string_view::npos) return std::nullopt;
    return text.substr(start, second - start);
}

bool readURLs(const Value& info, const char* key, TRAAd::URLList& out, std::string* error) {
    if (!info.contains(key)) return true;
    const Value& list = info[key];
    if (!list.isArray()) {
        *error = NSString::stringWithFormat("\"%@\" is not an array", key);
        return false;
    }
    std::vector<std::string> urls;
    for (const Value& v : *list.array()) {
        if (!v.isString()) {
            *error = NSString::stringWithFormat("\"%@\" holds a value that is not a string", key);
            return false;
        }
        urls.push_back(*v.string());
    }
    out = std::move(urls);
    return true;
}

bool readFlags(const Value& info, const char* key, TRAAd::FlagList& out, std::string* error) {
    if (!info.contains(key)) return true;
    const Value& list = info[key];
    if (!list.isArray()) {
        *error = NSString::stringWithFormat("\"%@\" is not an array", key);
        return false;
    }
    std::vector<bool> flags;
    for (const Value& v : *list.array()) {
        if (!v.isNumber()) {
            *error = NSString::stringWithFormat("\"%@\" holds a value that is not a boolean", key);
            return false;
        }
        flags.push_back(v.boolValue());
    }
    out = std::move(flags);
    return true;
}

}  // namespace

std::string TRAHtmlAd::adRequestPath() const { return TRAWire::kHtmlAdPath; }

void TRAHtmlAd::didReceiveAnswer(const std::string& body) {
    setHtml(body);
    if (!onReceiveAd()) {
        reportFailure("Ad answer is malformed");
        return;
    }
    if (videoPref()) downloadVideo();
    else reportLoaded();
}

bool TRAHtmlAd::onReceiveAd() {
    std::optional<std::string_view> block = betweenMarkers(html(), TRAWire::kAdInfoMarker);
    if (block) {
        std::optional<Value> info = NSJSONSerialization::JSONObjectWithData(NSString::dataUsingEncoding(*block));
        std::string error;
        URLList tracking, close, clickTracking;
        FlagList smartRedirect, browser;
        if (!info || !info->isDictionary()) error = "the ad-info block is not a JSON object";
        else if (info->contains("orientation") && !(*info)["orientation"].isString())
            error = "\"orientation\" is not a string";
        if (!error.empty() || !readURLs(*info, "trackingUrl", tracking, &error) ||
            !readURLs(*info, "closeUrl", close, &error) || !readURLs(*info, "clickTrackingUrl", clickTracking, &error) ||
            !readFlags(*info, "smartRedirect", smartRedirect, &error) ||
            !readFlags(*info, "trilliumBrowserEnabled", browser, &error)) {
            TRALog::errorf("Ad page rejected: %@.", error);
            return false;
        }
        if (info->contains("orientation")) setAdOrientation(*(*info)["orientation"].string());
        setTrackingUrl(std::move(tracking));
        setCloseUrl(std::move(close));
        setClickTrackingUrl(std::move(clickTracking));
        setSmartRedirect(std::move(smartRedirect));
        setTrilliumBrowserEnabled(std::move(browser));
    }
    getVideoPreferences();
    return true;
}

void TRAHtmlAd::getVideoPreferences() {
    std::optional<std::string_view> json = betweenMarkers(html(), TRAWire::kVideoJsonMarker);
    if (json && !json->empty()) setVideoPref(getAdVideoPreferencesWithJsonString(*json));
}

Ref<TRAAdVideoPreferences> TRAHtmlAd::getAdVideoPreferencesWithJsonString(std::string_view json) {
    return TRAAdVideoPreferences::preferencesWithJsonString(json);
}

void TRAHtmlAd::showAd(const Ref<TRAViewControllerDelegate>& delegate, const std::optional<std::string>& adTag) {
    const TRADisplayHooks& hooks = TRADisplayHooks::shared();
    bool video = videoPref() != nullptr;
    if (video && hooks.videoStore) {
        if (auto store = hooks.videoStore())
            store->setNowPlayingVideoFileName(TRAAdSDKUtils::getFileNameFromVideoUrl(videoPref()->videoUrl().value_or("")));
    }
    Ref<TRAAdScreen> screen = hooks.adScreen ? hooks.adScreen(video) : nullptr;
    if (!screen) {
        TRALog::error("No full-screen ad screen is available; the ad is not shown.");
        // Told on the next main-queue turn, as a screen would.
        Weak<TRAViewControllerDelegate> weak = delegate;
        auto error = TRAAdSDKUtils::createErrorWithDescription("Ad screen is not available");
        dispatch_async(dispatch_get_main_queue(), [weak, error] {
            if (auto told = weak.lock()) told->failedDisplayAd(error);
        });
        return;
    }
    viewController_ = screen;
    screen->initWithAd(self<TRAAd>(), delegate, adTag);
}

bool TRAHtmlAd::canMakeAdScreen() { return static_cast<bool>(TRADisplayHooks::shared().adScreen); }

void TRAHtmlAd::closeAd(bool, bool) {
    if (viewController_) viewController_->closeAdWithAnimation(false, false);
}

void TRAHtmlAd::downloadVideo() {
    const auto& make = TRADisplayHooks::shared().videoStore;
    auto store = make ? make() : nullptr;
    auto url = videoPref() ? videoPref()->videoUrl() : std::nullopt;
    if (!store || !url) {
        TRALog::error(store ? "Video ad without a video URL." : "No video store is available for a video ad.");
        didFailDownloadVideo();
        return;
    }
    store->downloadVideoWithUrl(*url, self<TRAHtmlAd>());
}

void TRAHtmlAd::didFinishDownloadVideoWithPath(const std::string& path) {
    if (videoPref()) videoPref()->setVideoPath(path);
    reportLoaded();
}

void TRAHtmlAd::didFailDownloadVideo() { reportFailure("Failed to download the ad's video"); }

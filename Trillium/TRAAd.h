// The Trillium ad model: one ad as the ad platform served it (type,
// orientation, page, impression, close and click-tracking URLs, per-ad click
// switches, video settings) and its load: the request URL built from the
// request's query and the extra fields, the answer handed to the subclass,
// the outcome told to the load delegate. Archived with the ad cache. Main
// thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Trillium/TRAAdVideoPreferences.h"
#include "Trillium/TRABaseRequest.h"
#include "platform/foundation/NSCoder.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "platform/net/NSURLResponse.h"
#include "platform/runtime/NSObject.h"

class TRAAdDelegate : public virtual NSObjectProtocol {
public:
    virtual void didFinishLoadAd() = 0;
    // The error, or null for an answer without ads.
    virtual void finishLoadAdWithError(const Ref<NSError>& error) = 0;
    virtual void didCloseInAppStore() {}
};

class TRAAd : public NSObject, public NSCoding {
public:
    using URLList = std::optional<std::vector<std::string>>;
    using FlagList = std::optional<std::vector<bool>>;

    Ref<TRAAd> init() { return self<TRAAd>(); }

    // Builds the request URL (base URL, path, the request's query, the ad
    // fields, then each extra field of `adPreferences` and `params` as
    // "&key=value"), escapes it once and sends it. The outcome reaches the
    // load delegate, never before this call returns. A newer load supersedes
    // an older one still under way.
    void loadAd(const std::optional<std::string>& appId, const std::optional<std::string>& devId,
                const Value& adPreferences, const Value& params, bool rewardedVideo);

    int64_t adType() const { return adType_; }
    void setAdType(int64_t adType) { adType_ = adType; }
    const std::string& adOrientation() const { return adOrientation_; }
    void setAdOrientation(std::string orientation) { adOrientation_ = std::move(orientation); }
    const std::string& html() const { return html_; }
    void setHtml(std::string html) { html_ = std::move(html); }
    const URLList& trackingUrl() const { return trackingUrl_; }
    void setTrackingUrl(URLList urls) { trackingUrl_ = std::move(urls); }
    const URLList& closeUrl() const { return closeUrl_; }
    void setCloseUrl(URLList urls) { closeUrl_ = std::move(urls); }
    const URLList& clickTrackingUrl() const { return clickTrackingUrl_; }
    void setClickTrackingUrl(URLList urls) { clickTrackingUrl_ = std::move(urls); }
    const FlagList& smartRedirect() const { return smartRedirect_; }
    void setSmartRedirect(FlagList flags) { smartRedirect_ = std::move(flags); }
    const FlagList& trilliumBrowserEnabled() const { return trilliumBrowserEnabled_; }
    void setTrilliumBrowserEnabled(FlagList flags) { trilliumBrowserEnabled_ = std::move(flags); }
    const Ref<TRAAdVideoPreferences>& videoPref() const { return videoPref_; }
    void setVideoPref(Ref<TRAAdVideoPreferences> preferences) { videoPref_ = std::move(preferences); }
    bool isRewardedVideo() const { return isRewardedVideo_; }
    void setIsRewardedVideo(bool rewarded) { isRewardedVideo_ = rewarded; }
    // -1 after init; the screens add 1 at each (re)load or playback start.
    int32_t offset() const { return offset_; }
    void setOffset(int32_t offset) { offset_ = offset; }
    // When the ad finished loading (seconds since 1970); nullopt before, and
    // for an ad archived without one.
    const std::optional<double>& loadDate() const { return loadDate_; }
    void setLoadDate(std::optional<double> date) { loadDate_ = date; }
    const Ref<TRABaseRequest>& adRequest() const { return adRequest_; }
    void setAdRequest(Ref<TRABaseRequest> request) { adRequest_ = std::move(request); }
    Ref<TRAAdDelegate> adLoadDelegate() const { return adLoadDelegate_.lock(); }
    void setAdLoadDelegate(const Ref<TRAAdDelegate>& delegate) { adLoadDelegate_ = delegate; }

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

protected:
    // The request path after the base URL ("gethtmlad?" or "getads?").
    virtual std::string adRequestPath() const = 0;
    // A 200 answer with a body: the subclass takes it and reports the outcome.
    virtual void didReceiveAnswer(const std::string& body) = 0;

    void reportLoaded();
    void reportFailure(const Ref<NSError>& error);
    void reportFailure(const std::string& description);

private:
    void didLoad(uint64_t generation, const Ref<NSHTTPURLResponse>& response, const std::optional<NSData>& data,
                 const Ref<NSError>& error);

    int64_t adType_ = 0;
    std::string adOrientation_ = "portrait";
    std::string html_;
    URLList trackingUrl_, closeUrl_, clickTrackingUrl_;
    FlagList smartRedirect_, trilliumBrowserEnabled_;
    Ref<TRAAdVideoPreferences> videoPref_;
    bool isRewardedVideo_ = false;
    int32_t offset_ = -1;
    std::optional<double> loadDate_;
    Ref<TRABaseRequest> adRequest_;
    Weak<TRAAdDelegate> adLoadDelegate_;
    uint64_t generation_ = 0;
};

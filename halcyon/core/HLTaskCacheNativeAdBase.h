// The native precache tasks: the base walks a list of native ads and has
// each one's resources cached into the SDK's file cache, telling the precache
// delegate (held strongly until the task ends) exactly once per ad, in list
// order; a failure does not stop the walk. HLTaskCacheNativeAdImages caches
// the icon, then the main image (an icon that fails leaves the image
// untried); HLTaskCacheNativeAdVideos the video. A cached resource's use
// address then points at the local file. With resource caching off (slot
// 30) every ad succeeds uncached.
//
// One file is fetched synchronously on the task's queue, with a finite
// time-out (slot 16, also for the whole transfer), so a download blocks
// only its own queue; only a 2xx answer with a body is kept. Resources are
// keyed by the address's last path component: two addresses ending in one
// file name share a file, the second never downloaded. An address that does
// not parse, names no file or lies outside the allowed prefixes (slot 31)
// is not cached. A task dropped unrun reports a failure for every ad.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "halcyon/core/HLNativeAd.h"
#include "halcyon/core/HLNativeAdLoadDelegate.h"
#include "halcyon/core/HLTask.h"

class HLFileManager;

class HLTaskCacheNativeAdBase : public HLTask {
public:
    Ref<HLTaskCacheNativeAdBase> initWithSdk(const Ref<HLSdk>& sdk, std::vector<Ref<HLNativeAd>> nativeAdsToPopulate,
                                             Ref<HLNativeAdPrecacheDelegate> precacheDelegate);

    void run() override;

    // The local file's URL text, or nullopt when nothing was cached.
    std::optional<std::string> cacheFile(const std::optional<std::string>& url, const Ref<HLFileManager>& fileManager);

    const std::vector<Ref<HLNativeAd>>& nativeAdsToPopulate() const { return nativeAdsToPopulate_; }
    const Ref<HLNativeAdPrecacheDelegate>& precacheDelegate() const { return precacheDelegate_; }

protected:
    virtual bool cacheResourcesForNativeAd(const Ref<HLNativeAd>& ad, const Ref<HLFileManager>& fileManager) = 0;
    virtual void notifyPrecacheDelegateSuccessForNativeAd(const Ref<HLNativeAd>& ad) = 0;
    virtual void notifyPrecacheDelegateFailureForNativeAd(const Ref<HLNativeAd>& ad) = 0;

    // -1009 while the device has no network, else `code`.
    static int32_t failureCode(int32_t code);
    bool isResourceCachingEnabled() const;
    void taskDropped() override;

private:
    // The body of a 2xx answer with one, or nullopt (logged).
    std::optional<NSData> download(const Ref<NSURL>& url);

    std::vector<Ref<HLNativeAd>> nativeAdsToPopulate_;
    Ref<HLNativeAdPrecacheDelegate> precacheDelegate_;
};

class HLTaskCacheNativeAdImages : public HLTaskCacheNativeAdBase {
public:
    Ref<HLTaskCacheNativeAdImages> initWithSdk(const Ref<HLSdk>& sdk, std::vector<Ref<HLNativeAd>> nativeAdsToPopulate,
                                               Ref<HLNativeAdPrecacheDelegate> precacheDelegate) {
        HLTaskCacheNativeAdBase::initWithSdk(sdk, std::move(nativeAdsToPopulate), std::move(precacheDelegate));
        return self<HLTaskCacheNativeAdImages>();
    }

protected:
    bool cacheResourcesForNativeAd(const Ref<HLNativeAd>& ad, const Ref<HLFileManager>& fileManager) override;
    void notifyPrecacheDelegateSuccessForNativeAd(const Ref<HLNativeAd>& ad) override;
    // -201 (-1009 without a network).
    void notifyPrecacheDelegateFailureForNativeAd(const Ref<HLNativeAd>& ad) override;
};

class HLTaskCacheNativeAdVideos : public HLTaskCacheNativeAdBase {
public:
    Ref<HLTaskCacheNativeAdVideos> initWithSdk(const Ref<HLSdk>& sdk, std::vector<Ref<HLNativeAd>> nativeAdsToPopulate,
                                               Ref<HLNativeAdPrecacheDelegate> precacheDelegate) {
        HLTaskCacheNativeAdBase::initWithSdk(sdk, std::move(nativeAdsToPopulate), std::move(precacheDelegate));
        return self<HLTaskCacheNativeAdVideos>();
    }

protected:
    bool cacheResourcesForNativeAd(const Ref<HLNativeAd>& ad, const Ref<HLFileManager>& fileManager) override;
    void notifyPrecacheDelegateSuccessForNativeAd(const Ref<HLNativeAd>& ad) override;
    // -202 (-1009 without a network).
    void notifyPrecacheDelegateFailureForNativeAd(const Ref<HLNativeAd>& ad) override;
};

#include "halcyon/core/HLNativeAdLoadCoordinator.h"

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLNativeAdService.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLTaskCacheNativeAdBase.h"
#include "halcyon/core/HLTaskFetchNextNativeAd.h"
#include "halcyon/core/HLTaskManager.h"

namespace {
constexpr int64_t kHLNativeLoadSlotBatchPrecacheCount = 98;  // "native_batch_precache_count"
constexpr uint64_t kHLNativeLoadQueue = 0;
constexpr int32_t kHLNativeLoadNothingToPrecache = -701;
constexpr int32_t kHLNativeLoadImagesFailed = -201;
constexpr int32_t kHLNativeLoadVideoFailed = -202;
}  // namespace

Ref<HLNativeAdLoadCoordinator> HLNativeAdLoadCoordinator::initWithNativeAdService(const Ref<HLNativeAdService>& service,
                                                                                  uint64_t adsToLoadCount) {
    nativeAdService_ = service;
    logger_ = service ? service->logger() : nullptr;
    adsToLoadCount_ = adsToLoadCount;
    return self<HLNativeAdLoadCoordinator>();
}

Ref<HLSdk> HLNativeAdLoadCoordinator::sdk() const {
    Ref<HLNativeAdService> service = nativeAdService_.lock();
    return service ? service->sdk() : nullptr;
}

void HLNativeAdLoadCoordinator::executeNativeAdLoad() {
    Ref<HLSdk> sdk = this->sdk();
    if (!sdk) return;
    auto fetch = NSObject::alloc<HLTaskFetchNextNativeAd>()->initWithSdk(sdk, adsToLoadCount_,
                                                                         self<HLNativeAdLoadCoordinator>());
    sdk->taskManager()->execute(fetch, kHLNativeLoadQueue);
}

// ---- Request and render

void HLNativeAdLoadCoordinator::nativeAdServiceDidFailToLoadAdsWithError(const Ref<HLNativeAdService>&, int32_t code) {
    {
        std::scoped_lock lock(mutex_);
        if (!claimReportLocked(false)) return;
    }
    HLNotifyNativeAdsFailed(loadDelegate_, nativeAdService_.lock(), code);
}

void HLNativeAdLoadCoordinator::nativeAdServiceDidLoadAds(const Ref<HLNativeAdService>&,
                                                          const std::vector<Ref<HLNativeAd>>& ads) {
    Ref<HLSdk> sdk = this->sdk();
    Ref<HLLogManager> log = logger();
    if (!sdk || !log) return;
    const int64_t k = sdk->integerForKey(kHLNativeLoadSlotBatchPrecacheCount);
    std::vector<Ref<HLNativeAd>> batch;
    {
        std::scoped_lock lock(mutex_);
        if (precacheFinished_) {
            log->w(tag_, "Got ads after the load was reported; ignored");
            return;
        }
        allAds_ = ads;
        if (k >= 1) {
            // k + 1, not k: with the default of 1 the first two are cached.
            const uint64_t n = static_cast<uint64_t>(k) >= ads.size() ? ads.size() : static_cast<uint64_t>(k) + 1;
            batch.assign(ads.begin(), ads.begin() + static_cast<std::ptrdiff_t>(n));
        }
    }
    if (k < 1) {
        log->w(tag_, "SDK settings says no native ads to pre-cache");
        reportSuccess();
        return;
    }
    if (batch.empty()) {
        log->e(tag_, "There are no native ads to pre-cache");
        reportFailure(kHLNativeLoadNothingToPrecache);
        return;
    }
    log->d(tag_, "Pre-caching %lu native ads...", static_cast<unsigned long>(ads.size()));
    batchPrecacheImages(std::move(batch));
}

// ---- Batches

void HLNativeAdLoadCoordinator::batchPrecacheImages(std::vector<Ref<HLNativeAd>> ads) {
    Ref<HLSdk> sdk = this->sdk();
    if (!sdk) return;
    sdk->logManager()->d(tag_, "Batch precaching native ad resources for %lu native ads.",
                         static_cast<unsigned long>(ads.size()));
    {
        std::scoped_lock lock(mutex_);
        precachedAds_ = ads;
        pendingImagePrecachesCount_ = ads.size();
        pendingVideoPrecachesCount_ = ads.size();
        precacheFinished_ = false;
    }
    auto task = NSObject::alloc<HLTaskCacheNativeAdImages>()->initWithSdk(sdk, std::move(ads),
                                                                          self<HLNativeAdLoadCoordinator>());
    sdk->taskManager()->execute(task, kHLNativeLoadQueue);
}

void HLNativeAdLoadCoordinator::batchPrecacheVideos() {
    Ref<HLSdk> sdk = this->sdk();
    if (!sdk) return;
    std::vector<Ref<HLNativeAd>> ads;
    {
        std::scoped_lock lock(mutex_);
        ads = precachedAds_;
    }
    sdk->logManager()->d(tag_, "Batch precaching native ad videos for %lu native ads.",
                         static_cast<unsigned long>(ads.size()));
    auto task = NSObject::alloc<HLTaskCacheNativeAdVideos>()->initWithSdk(sdk, std::move(ads),
                                                                          self<HLNativeAdLoadCoordinator>());
    sdk->taskManager()->execute(task, kHLNativeLoadQueue);
}

void HLNativeAdLoadCoordinator::nativeAdServiceDidPrecacheImagesForAd(const Ref<HLNativeAdService>&,
                                                                      const Ref<HLNativeAd>& ad) {
    Ref<HLLogManager> log = logger();
    bool allCached = false;
    {
        std::scoped_lock lock(mutex_);
        if (precacheFinished_ || pendingImagePrecachesCount_ == 0) {
            if (log)
                log->w(tag_, "Got didPrecacheImagesForAd: (%@) after preloading has finished",
                       hlValueForLog(ad ? ad->adIdNumber() : Value()));
            return;
        }
        allCached = --pendingImagePrecachesCount_ == 0;
    }
    if (!allCached) return;
    if (log) log->d(tag_, "All images pre-cached, starting video pre-loading");
    batchPrecacheVideos();
}

void HLNativeAdLoadCoordinator::nativeAdServiceDidPrecacheVideoForAd(const Ref<HLNativeAdService>&,
                                                                     const Ref<HLNativeAd>& ad) {
    Ref<HLLogManager> log = logger();
    {
        std::scoped_lock lock(mutex_);
        // Videos are cached only once every image is: a video result before
        // that is out of turn.
        if (precacheFinished_ || pendingImagePrecachesCount_ > 0 || pendingVideoPrecachesCount_ == 0) {
            if (log)
                log->w(tag_, "Got didPrecacheVideoForSlot: (%@) after preloading has finished",
                       hlValueForLog(ad ? ad->adIdNumber() : Value()));
            return;
        }
        if (--pendingVideoPrecachesCount_ > 0) return;
    }
    if (log) log->d(tag_, "All videos pre-cached, completing native ad(s) load");
    reportSuccess();
}

void HLNativeAdLoadCoordinator::nativeAdServiceDidFailToPrecacheImagesForAdWithError(const Ref<HLNativeAdService>&,
                                                                                     const Ref<HLNativeAd>& ad,
                                                                                     int32_t) {
    precacheFailed(ad, kHLNativeLoadImagesFailed, "didFailToPrecacheImagesForAd:");
}

void HLNativeAdLoadCoordinator::nativeAdServiceDidFailToPrecacheVideoForAdWithError(const Ref<HLNativeAdService>&,
                                                                                    const Ref<HLNativeAd>& ad,
                                                                                    int32_t) {
    precacheFailed(ad, kHLNativeLoadVideoFailed, "didFailToPrecacheVideoForAd:");
}

void HLNativeAdLoadCoordinator::precacheFailed(const Ref<HLNativeAd>& ad, int32_t code, const char* which) {
    bool finished = false;
    {
        std::scoped_lock lock(mutex_);
        finished = precacheFinished_;
    }
    if (finished) {
        if (Ref<HLLogManager> log = logger())
            log->w(tag_, "Got %@ (%@) after preloading has finished", which,
                   hlValueForLog(ad ? ad->adIdNumber() : Value()));
        return;
    }
    reportFailure(code);
}

// ---- Reporting

bool HLNativeAdLoadCoordinator::claimReportLocked(bool precaching) {
    if (precacheFinished_) return false;
    if (precaching)
        if (Ref<HLLogManager> log = logger())
            log->d(tag_, "Preloading of %lu native ads finished with %lu pending images and %lu pending videos",
                   static_cast<unsigned long>(allAds_.size()), static_cast<unsigned long>(pendingImagePrecachesCount_),
                   static_cast<unsigned long>(pendingVideoPrecachesCount_));
    precacheFinished_ = true;
    return true;
}

void HLNativeAdLoadCoordinator::reportSuccess() {
    std::vector<Ref<HLNativeAd>> ads;
    {
        std::scoped_lock lock(mutex_);
        if (!claimReportLocked(true)) return;
        ads = allAds_;
    }
    HLNotifyNativeAdsLoaded(loadDelegate_, nativeAdService_.lock(), ads);
}

void HLNativeAdLoadCoordinator::reportFailure(int32_t code) {
    {
        std::scoped_lock lock(mutex_);
        if (!claimReportLocked(true)) return;
    }
    HLNotifyNativeAdsFailed(loadDelegate_, nativeAdService_.lock(), code);
}

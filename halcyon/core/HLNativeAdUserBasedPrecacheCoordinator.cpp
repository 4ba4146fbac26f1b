#include "halcyon/core/HLNativeAdUserBasedPrecacheCoordinator.h"

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLNativeAdService.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLStringUtils.h"
#include "halcyon/core/HLTaskCacheNativeAdBase.h"
#include "halcyon/core/HLTaskManager.h"

namespace {
constexpr uint64_t kHLUserPrecacheQueue = 1;
}  // namespace

template <class Task>
void HLNativeAdUserBasedPrecacheCoordinator::queueCacheTask(const Ref<HLSdk>& sdk, const Ref<HLNativeAd>& ad) {
    auto task = NSObject::alloc<Task>()->initWithSdk(sdk, {ad}, self<HLNativeAdUserBasedPrecacheCoordinator>());
    sdk->taskManager()->execute(task, kHLUserPrecacheQueue);
}

Ref<HLNativeAdUserBasedPrecacheCoordinator> HLNativeAdUserBasedPrecacheCoordinator::initWithNativeAdService(
    const Ref<HLNativeAdService>& service) {
    nativeAdService_ = service;
    logger_ = service ? service->logger() : nullptr;
    return self<HLNativeAdUserBasedPrecacheCoordinator>();
}

void HLNativeAdUserBasedPrecacheCoordinator::executePrecacheForNativeAd(const Ref<HLNativeAd>& ad) {
    Ref<HLNativeAdService> service = nativeAdService_.lock();
    Ref<HLSdk> sdk = service ? service->sdk() : nullptr;
    Ref<HLLogManager> log = logger();
    if (!ad || !sdk || !log) return;
    if (ad->isImagePrecached()) {
        log->d(tag_, "Natie ad (%@) already has its images pre-cached, so begin pre-caching video resource",
               hlValueForLog(ad->adIdNumber()));
        HLNotifyImagesPrecached(precacheDelegate_, service, ad);
        precacheVideoIfNeeded(ad);
        return;
    }
    log->d(tag_, "Native ad (%@) does not have its images pre-cached, so begin pre-caching image resources",
           hlValueForLog(ad->adIdNumber()));
    queueCacheTask<HLTaskCacheNativeAdImages>(sdk, ad);
}

void HLNativeAdUserBasedPrecacheCoordinator::nativeAdServiceDidPrecacheImagesForAd(const Ref<HLNativeAdService>&,
                                                                                   const Ref<HLNativeAd>& ad) {
    if (Ref<HLLogManager> log = logger())
        log->d(tag_, "Did pre-cache image resources for native ad (%@)",
               hlValueForLog(ad ? ad->adIdNumber() : Value()));
    HLNotifyImagesPrecached(precacheDelegate_, nativeAdService_.lock(), ad);
    precacheVideoIfNeeded(ad);
}

void HLNativeAdUserBasedPrecacheCoordinator::precacheVideoIfNeeded(const Ref<HLNativeAd>& ad) {
    Ref<HLNativeAdService> service = nativeAdService_.lock();
    Ref<HLSdk> sdk = service ? service->sdk() : nullptr;
    Ref<HLLogManager> log = logger();
    if (!ad || !sdk || !log) return;
    const Ref<NSURL>& source = ad->sourceVideoURL();
    if (!source || !HLUtils::hl_isValidString(std::string_view(source->absoluteString()))) {
        log->d(tag_, "Attempting to pre-cache video for native ad (%@) without a valid source video url",
               hlValueForLog(ad->adIdNumber()));
        reportVideoSuccess(ad);
        return;
    }
    log->d(tag_, "Attempting to pre-cache video for native ad (%@) with a valid source video url",
           hlValueForLog(ad->adIdNumber()));
    if (ad->isVideoPrecached()) {
        log->d(tag_, "Native ad (%@) already has video pre-cached", hlValueForLog(ad->adIdNumber()));
        reportVideoSuccess(ad);
        return;
    }
    log->d(tag_, "Native ad (%@) does not have its video pre-cached, so begin caching video resource",
           hlValueForLog(ad->adIdNumber()));
    queueCacheTask<HLTaskCacheNativeAdVideos>(sdk, ad);
}

void HLNativeAdUserBasedPrecacheCoordinator::nativeAdServiceDidPrecacheVideoForAd(const Ref<HLNativeAdService>&,
                                                                                  const Ref<HLNativeAd>& ad) {
    if (Ref<HLLogManager> log = logger())
        log->d(tag_, "Did pre-cache video resource for native ad (%@)", hlValueForLog(ad ? ad->adIdNumber() : Value()));
    reportVideoSuccess(ad);
}

void HLNativeAdUserBasedPrecacheCoordinator::reportVideoSuccess(const Ref<HLNativeAd>& ad) {
    logPendingPrecache(ad);
    HLNotifyVideoPrecached(precacheDelegate_, nativeAdService_.lock(), ad);
}

void HLNativeAdUserBasedPrecacheCoordinator::nativeAdServiceDidFailToPrecacheImagesForAdWithError(
    const Ref<HLNativeAdService>&, const Ref<HLNativeAd>& ad, int32_t code) {
    if (Ref<HLLogManager> log = logger())
        log->e(tag_, "We have failed to pre-cache images for native ad (%@) with an error: %ld",
               hlValueForLog(ad ? ad->adIdNumber() : Value()), static_cast<long>(code));
    logPendingPrecache(ad);
    HLNotifyImagesPrecacheFailed(precacheDelegate_, nativeAdService_.lock(), ad, code);
}

void HLNativeAdUserBasedPrecacheCoordinator::nativeAdServiceDidFailToPrecacheVideoForAdWithError(
    const Ref<HLNativeAdService>&, const Ref<HLNativeAd>& ad, int32_t code) {
    if (Ref<HLLogManager> log = logger())
        log->e(tag_, "We have failed to pre-cache video for native ad (%@) with an error: %ld",
               hlValueForLog(ad ? ad->adIdNumber() : Value()), static_cast<long>(code));
    logPendingPrecache(ad);
    HLNotifyVideoPrecacheFailed(precacheDelegate_, nativeAdService_.lock(), ad, code);
}

void HLNativeAdUserBasedPrecacheCoordinator::logPendingPrecache(const Ref<HLNativeAd>& ad) {
    if (Ref<HLLogManager> log = logger(); log && ad)
        log->d(tag_, "Removing pending precache for native ad; image ready: %d, video ready: %d",
               static_cast<int>(ad->isImagePrecached()), static_cast<int>(ad->isVideoPrecached()));
}

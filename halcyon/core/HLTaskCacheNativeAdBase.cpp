#include "halcyon/core/HLTaskCacheNativeAdBase.h"

#include "halcyon/core/HLConnectionManager.h"
#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLReachability.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLUtils.h"
#include "platform/net/NSURLConnection.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/NSURLResponse.h"
#include "platform/runtime/Log.h"

namespace {
constexpr int64_t kHLNativeCacheSlotEnabled = 30;  // "is_resource_cache_enabled"
constexpr int32_t kHLNativeCacheImagesFailed = -201;
constexpr int32_t kHLNativeCacheVideoFailed = -202;
constexpr int32_t kHLNativeCacheNoNetwork = -1009;

std::optional<std::string> hlNativeCacheAbsolute(const Ref<NSURL>& url) {
    return url ? std::optional<std::string>(url->absoluteString()) : std::nullopt;
}
}  // namespace

Ref<HLTaskCacheNativeAdBase> HLTaskCacheNativeAdBase::initWithSdk(const Ref<HLSdk>& sdk,
                                                                  std::vector<Ref<HLNativeAd>> nativeAdsToPopulate,
                                                                  Ref<HLNativeAdPrecacheDelegate> precacheDelegate) {
    HLTask::initWithSdk(sdk);
    nativeAdsToPopulate_ = std::move(nativeAdsToPopulate);
    precacheDelegate_ = std::move(precacheDelegate);
    return self<HLTaskCacheNativeAdBase>();
}

void HLTaskCacheNativeAdBase::run() {
    const Ref<HLFileManager>& files = sdk()->fileManager();
    for (size_t i = 0; i < nativeAdsToPopulate_.size(); ++i) {
        const Ref<HLNativeAd>& ad = nativeAdsToPopulate_[i];
        logger()->d(tag(), "Beginning resource caching for native ad %lu", static_cast<unsigned long>(i));
        if (ad && cacheResourcesForNativeAd(ad, files)) {
            logger()->d(tag(), "Native ad resources cached");
            notifyPrecacheDelegateSuccessForNativeAd(ad);
        } else {
            logger()->e(tag(), "Unable to cache native ad resources");
            notifyPrecacheDelegateFailureForNativeAd(ad);
        }
    }
}

void HLTaskCacheNativeAdBase::taskDropped() {
    // Whoever waits on these ads still hears from each.
    for (const Ref<HLNativeAd>& ad : nativeAdsToPopulate_) notifyPrecacheDelegateFailureForNativeAd(ad);
}

bool HLTaskCacheNativeAdBase::isResourceCachingEnabled() const { return sdk()->boolForKey(kHLNativeCacheSlotEnabled); }

int32_t HLTaskCacheNativeAdBase::failureCode(int32_t code) {
    return HLReachability::currentNetworkType() == "none" ? kHLNativeCacheNoNetwork : code;
}

// ---- One file

std::optional<std::string> HLTaskCacheNativeAdBase::cacheFile(const std::optional<std::string>& url,
                                                              const Ref<HLFileManager>& fileManager) {
    if (!HLUtils::hl_isValidString(url)) {
        logger()->d(tag(), "Nothing to cache, skipping...");
        return std::nullopt;
    }
    const std::string address = HLConnectionManager::upgradedForSsl(*url, sdk(), tag());
    if (!HLUtils::isDomainWhitelisted(sdk()->settingsManager(), address)) {
        logger()->d(tag(), "Domain is not whitelisted, skipping precache for URL %@", platform::urlForLog(address));
        return std::nullopt;
    }
    Ref<NSURL> parsed = HLUtils::hl_asURL(HLUtils::hl_stringByTrimmingWhitespace(address));
    const std::string name = parsed ? parsed->lastPathComponent() : std::string();
    // "/" would map to a file named "_" that every such address would share;
    // "..", "." and the like name no file in the folder.
    if (name == "/" || !HLFileManager::fileNameForResourceNamed(name)) {
        logger()->w(tag(), "Unable to cache resource: %@ names no file", platform::urlForLog(address));
        return std::nullopt;
    }
    if (!fileManager) return std::nullopt;
    if (fileManager->hasCachedResourceNamed(name)) {
        logger()->d(tag(), "Cached resource %@ already exists, returning...", platform::shortenedForLog(name));
        Ref<NSURL> local = fileManager->urlForResourceNamed(name);
        return local ? std::optional<std::string>(local->absoluteString()) : std::nullopt;
    }
    std::optional<NSData> body = download(parsed);
    if (body && fileManager->cacheResourceWithData(*body, name)) {
        // The file URL with its path escaped, so that it always parses back.
        if (Ref<NSURL> local = fileManager->urlForResourceNamed(name)) {
            logger()->d(tag(), "Successfully cached resource: %@", platform::urlForLog(local->absoluteString()));
            return local->absoluteString();
        }
    }
    logger()->w(tag(), "Unable to cache resource: %@", platform::urlForLog(address));
    return std::nullopt;
}

std::optional<NSData> HLTaskCacheNativeAdBase::download(const Ref<NSURL>& url) {
    if (!HLConnectionManager::isFetchable(url, logger(), tag())) return std::nullopt;
    // A finite time-out, for the whole transfer too: a stalling or dripping
    // server must not hold the queue for long.
    const double timeout = HLConnectionManager::defaultTimeoutForSdk(sdk());
    auto request = NSMutableURLRequest::requestWithURL(url, NSURLRequestUseProtocolCachePolicy, timeout);
    request->setTotalTimeoutInterval(timeout);
    Ref<NSURLResponse> response;
    Ref<NSError> error;
    std::optional<NSData> body = NSURLConnection::sendSynchronousRequest(request, &response, &error);
    if (!body) {
        logger()->w(tag(), "Unable to download %@: error %ld",
                    url ? platform::urlForLog(url->absoluteString()) : "(null)",
                    static_cast<long>(error ? error->code() : -1));
        return std::nullopt;
    }
    // An error page or an empty body would be served as the resource for
    // good: only a successful answer with content is kept.
    auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
    if (!http || http->statusCode() < 200 || http->statusCode() > 299) {
        logger()->w(tag(), "Unable to download %@: server returned %ld",
                    url ? platform::urlForLog(url->absoluteString()) : "(null)",
                    static_cast<long>(http ? http->statusCode() : -1));
        return std::nullopt;
    }
    if (body->length() == 0) {
        logger()->w(tag(), "Unable to download %@: the answer is empty",
                    url ? platform::urlForLog(url->absoluteString()) : "(null)");
        return std::nullopt;
    }
    return body;
}

// ---- Images

bool HLTaskCacheNativeAdImages::cacheResourcesForNativeAd(const Ref<HLNativeAd>& ad,
                                                          const Ref<HLFileManager>& fileManager) {
    if (!isResourceCachingEnabled()) {
        logger()->d(tag(), "Resource caching is disabled, skipping...");
        return true;
    }
    logger()->d(tag(), "Beginning slot image caching for ad %@", hlValueForLog(ad->adIdNumber()));
    if (std::optional<std::string> icon = hlNativeCacheAbsolute(ad->sourceIconURL()); HLUtils::hl_isValidString(icon)) {
        std::optional<std::string> local = cacheFile(icon, fileManager);
        if (!local) return false;  // the main image is not tried
        ad->setIconURL(NSURL::URLWithString(*local));
    }
    if (std::optional<std::string> image = hlNativeCacheAbsolute(ad->sourceImageURL());
        HLUtils::hl_isValidString(image)) {
        std::optional<std::string> local = cacheFile(image, fileManager);
        if (!local) return false;
        ad->setImageURL(NSURL::URLWithString(*local));
    }
    return true;
}

void HLTaskCacheNativeAdImages::notifyPrecacheDelegateSuccessForNativeAd(const Ref<HLNativeAd>& ad) {
    HLNotifyImagesPrecached(precacheDelegate(), sdk()->nativeAdService(), ad);
}

void HLTaskCacheNativeAdImages::notifyPrecacheDelegateFailureForNativeAd(const Ref<HLNativeAd>& ad) {
    HLNotifyImagesPrecacheFailed(precacheDelegate(), sdk()->nativeAdService(), ad,
                                 failureCode(kHLNativeCacheImagesFailed));
}

// ---- Videos

bool HLTaskCacheNativeAdVideos::cacheResourcesForNativeAd(const Ref<HLNativeAd>& ad,
                                                          const Ref<HLFileManager>& fileManager) {
    std::optional<std::string> video = hlNativeCacheAbsolute(ad->sourceVideoURL());
    if (!HLUtils::hl_isValidString(video)) {
        logger()->d(tag(), "No video attached to ad, nothing to cache...");
        return true;
    }
    logger()->d(tag(), "Beginning slot video caching for ad %@", hlValueForLog(ad->adIdNumber()));
    if (!isResourceCachingEnabled()) {
        logger()->d(tag(), "Resource caching is disabled, skipping...");
        return true;
    }
    std::optional<std::string> local = cacheFile(video, fileManager);
    if (!local) return false;
    ad->setVideoURL(NSURL::URLWithString(*local));
    return true;
}

void HLTaskCacheNativeAdVideos::notifyPrecacheDelegateSuccessForNativeAd(const Ref<HLNativeAd>& ad) {
    HLNotifyVideoPrecached(precacheDelegate(), sdk()->nativeAdService(), ad);
}

void HLTaskCacheNativeAdVideos::notifyPrecacheDelegateFailureForNativeAd(const Ref<HLNativeAd>& ad) {
    HLNotifyVideoPrecacheFailed(precacheDelegate(), sdk()->nativeAdService(), ad, failureCode(kHLNativeCacheVideoFailed));
}

#include "Trillium/display/TRAEventAdManager.h"

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRAAnalytics.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRANetworkData.h"
#include "Trillium/TRATransportHttp.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/TRAWireContract.h"
#include "Trillium/display/TRALifecycleAdRequests.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSDateFormatter.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/net/NSURLConnection.h"
#include "platform/runtime/NSOperationQueue.h"
#include "platform/ui/UIApplication.h"

namespace {

Ref<NSUserDefaults> defaults() { return NSUserDefaults::standardUserDefaults(); }

// The other ad clients the report names, in the report's order: the code and
// the classes whose presence means that client is linked into the application.
struct OtherClientProbe {
    const char* code;
    std::vector<const char*> classNames;
};

const std::vector<OtherClientProbe>& otherClientProbes() {
    static const std::vector<OtherClientProbe> probes = {
        {"CB-", {"Chartboost"}},
        {"HL-", {"HLSdk"}},
        {"AM-", {"GADBannerView", "GADInterstitial"}},
    };
    return probes;
}

}  // namespace

Ref<TRAEventAdManager> TRAEventAdManager::sharedInstance() {
    // Never destroyed: other threads may use it during exit.
    static Ref<TRAEventAdManager>& shared = *new Ref<TRAEventAdManager>(NSObject::alloc<TRAEventAdManager>()->init());
    return shared;
}

Ref<TRAEventAdManager> TRAEventAdManager::init() {
    Ref<TRAEventAdManager> me = self<TRAEventAdManager>();
    NSNotificationCenter::defaultCenter()->addObserver(me, &TRAEventAdManager::onDidFinishLaunching,
                                                       UIApplicationDidFinishLaunchingNotification);
    return me;
}

Ref<NSBundle> TRAEventAdManager::frameworkBundle() {
    // Never destroyed: other threads may use it during exit.
    static Ref<NSBundle>& bundle = *new Ref<NSBundle>(TRAAdSDKUtils::frameworkBundle());
    return bundle;
}

// ---- launch ------------------------------------------------------------------------------

void TRAEventAdManager::appDidFinishLaunching() {
    auto metadata = TRAMetadata::sharedMetadata();
    if (metadata->isAutoLoad()) loadExtraOverlayForReference();
    isSplashScreenFinish_ = false;
    checkNetworkState();
    // Preferences that cannot be read now may well hold the first-open date:
    // the first-launch report waits for a launch that can tell.
    if (defaults()->isStoreRead() && defaults()->objectForKey(kFirstOpenDateKey).isNull()) {
        sendFirstLaunchReport();
        checkOthers();
    }
    if (metadata->isDisableReturnAd()) disableReturnAd();
    addDidBackgroundWillForegroundObserver();
    if (!isReturnAdDisabled_) showReturnAd();
    if (isSplashAdEnabled_) startSplashAtLaunch();
}

void TRAEventAdManager::checkNetworkState() {
    auto reachability = TRANetworkData::sharedInstance()->internetReachability();
    if (!reachability || reachability->currentReachabilityStatus() == TRANotReachable) return;
    TRAAdapptManager::setNewSessionReason("LAUNCH");
    auto metadata = TRAMetadata::sharedMetadata();
    metadata->setDelegateWithDelegate(self<TRAEventAdManager>());
    auto sdk = TRATrilliumSDK::sharedInstance();
    metadata->loadMetadata(sdk->appID(), sdk->devID());
}

void TRAEventAdManager::sendFirstLaunchReport() {
    // A report still on its way (a second launch call in the same run) is not
    // sent twice; its completion decides.
    if (firstLaunchReportInFlight_) return;
    auto sdk = TRATrilliumSDK::sharedInstance();
    auto request = NSObject::alloc<TRAFirstDownloadRequest>()->init();
    request->fillApplicationDetails(sdk->appID(), sdk->devID());
    std::string text = TRAMetadata::sharedMetadata()->getAdPlatformHost() + TRAWire::kFirstLaunchPath +
                       request->getQueryString();
    firstLaunchReportInFlight_ = true;
    Ref<TRAEventAdManager> me = self<TRAEventAdManager>();
    NSURLConnection::sendAsynchronousRequest(
        TRATransportHttp::createRequest(NSString::stringByAddingPercentEscapesUsingEncoding(text)),
        NSOperationQueue::mainQueue(),
        [me](Ref<NSURLResponse>, std::optional<NSData>, Ref<NSError> error) { me->firstLaunchReportFinished(error); });
}

void TRAEventAdManager::firstLaunchReportFinished(const Ref<NSError>& error) {
    firstLaunchReportInFlight_ = false;
    if (error) {
        // Nothing is stored, so the next launch sends the report again.
        TRALog::infof("First-launch report not delivered: %@", error->localizedDescription());
        return;
    }
    // Any HTTP answer counts: the server has the report.
    auto formatter = NSObject::alloc<NSDateFormatter>()->init();
    formatter->setDateStyle(NSDateFormatterShortStyle);
    formatter->setTimeStyle(NSDateFormatterNoStyle);
    defaults()->setObject(Value(formatter->stringFromDate(NSDate::date())), kFirstOpenDateKey);
    defaults()->synchronize();
}

void TRAEventAdManager::checkOthers() {
    std::string details;
    for (const OtherClientProbe& probe : otherClientProbes()) {
        for (const char* name : probe.classNames) {
            if (NSClassFromString(name)) {
                details += probe.code;
                break;
            }
        }
    }
    if (details.empty()) return;
    details.pop_back();  // the final "-"
    TRAAnalytics::sendAnalyticsURLWithCategory(TRAAnalytics::CategoryOtherSdks, details, "NTRA", std::nullopt);
}

// ---- background and foreground ----------------------------------------------------------

void TRAEventAdManager::addDidBackgroundWillForegroundObserver() {
    // Once: a second launch call must not double every later notification.
    if (observingBackgroundAndForeground_) return;
    observingBackgroundAndForeground_ = true;
    auto center = NSNotificationCenter::defaultCenter();
    Ref<TRAEventAdManager> me = self<TRAEventAdManager>();
    center->addObserver(me, &TRAEventAdManager::onDidEnterBackground, UIApplicationDidEnterBackgroundNotification);
    center->addObserver(me, &TRAEventAdManager::onWillEnterForeground, UIApplicationWillEnterForegroundNotification);
}

void TRAEventAdManager::appDidEnterBackground() {
    defaults()->setObject(Value(NSDate::date()), kLastBackgroundTimeKey);
    defaults()->synchronize();
    TRAAdCache::sharedInstance()->saveDBToLocalData();
}

void TRAEventAdManager::appWillEnterForeground() {
    // Without a stored time (or with something else stored) the absence counts as 0.
    Value stored = defaults()->objectForKey(kLastBackgroundTimeKey);
    double elapsed = stored.isDate() ? NSDate::date().timeIntervalSinceDate(*stored.date()) : 0;
    auto metadata = TRAMetadata::sharedMetadata();
    if (elapsed > static_cast<double>(metadata->getReturnAdMinBackgroundTime())) {
        if (metadata->isDisableReturnAd()) disableReturnAd();
        if (!isReturnAdDisabled_ && trilliumReturnAd_) trilliumReturnAd_->showAd();
    }
    if (elapsed > static_cast<double>(metadata->getSessionMaxBackgroundTime())) {
        TRAAdapptManager::setNewSessionReason("APP_IDLE");
        metadata->startNewSession();
    }
}

// ---- return ad and preloaded overlay -------------------------------------------------------

void TRAEventAdManager::showReturnAd() {
    if (!trilliumReturnAd_) trilliumReturnAd_ = NSObject::alloc<TRATrilliumAd>()->init();
    trilliumReturnAd_->setEventType(TRATrilliumAd::EventTypeReturn);
    reloadReturnAd();
}

void TRAEventAdManager::reloadReturnAd() {
    if (trilliumReturnAd_) trilliumReturnAd_->loadAd(kReturnAdType, self<TRAEventAdManager>());
}

void TRAEventAdManager::disableReturnAd() { isReturnAdDisabled_ = true; }

void TRAEventAdManager::tryReloadingReturnAd(Ref<NSTimer>) { showReturnAd(); }

void TRAEventAdManager::loadExtraOverlayForReference() {
    if (!trilliumOverlay_) trilliumOverlay_ = NSObject::alloc<TRATrilliumAd>()->init();
    trilliumOverlay_->loadAd();
}

// ---- the ad cache ---------------------------------------------------------------------------

void TRAEventAdManager::showVisualCacheDB() { TRAAdCache::sharedInstance()->showVisualCacheDB(); }
void TRAEventAdManager::hideVisualCacheDB() { TRAAdCache::sharedInstance()->hideVisualCacheDB(); }

void TRAEventAdManager::clearCacheDB() {
    auto cache = TRAAdCache::sharedInstance();
    cache->clearCacheDB();
    cache->saveDBToLocalData();
}

// ---- callbacks of the lifecycle ads -----------------------------------------------------------
// The return ad's are handled here and the splash ad's by the splash
// orchestration (TRAEventAdManagerSplash.cpp); any other ad's are ignored.

bool TRAEventAdManager::isReturnAd(const Ref<TRAAbstractAd>& ad) const {
    return ad && ad == std::static_pointer_cast<TRAAbstractAd>(trilliumReturnAd_);
}

Ref<TRADelegateProtocol> TRAEventAdManager::returnAdDelegateFor(std::string_view selector) const {
    auto delegate = returnAdDelegate_.lock();
    return delegate && delegate->respondsToSelector(selector) ? delegate : nullptr;
}

void TRAEventAdManager::didLoadAd(const Ref<TRAAbstractAd>& ad) {
    if (!isReturnAd(ad)) {
        if (isSplashAd(ad)) splashAdDidLoad(ad);
        return;
    }
    if (auto delegate = returnAdDelegateFor("didLoadAd:")) delegate->didLoadAd(ad);
}

void TRAEventAdManager::failedLoadAd(const Ref<TRAAbstractAd>& ad, const Ref<NSError>& error) {
    if (!isReturnAd(ad)) {
        if (isSplashAd(ad)) splashAdFailedLoad(ad, error);
        return;
    }
    Ref<TRAEventAdManager> keep = self<TRAEventAdManager>();
    if (auto delegate = returnAdDelegateFor("failedLoadAd:withError:")) delegate->failedLoadAd(ad, error);
    if (reloadingTimer_) {
        reloadingTimer_->invalidate();
        reloadingTimer_ = nullptr;
    }
    auto metadata = TRAMetadata::sharedMetadata();
    if (metadata->isDNS()) return;
    reloadingTimer_ = NSTimer::scheduledTimerWithTimeInterval(
        static_cast<double>(metadata->getReturnAdRetryLoadingTime()), keep, &TRAEventAdManager::tryReloadingReturnAd,
        Value(), false);
}

void TRAEventAdManager::didShowAd(const Ref<TRAAbstractAd>& ad) {
    if (!isReturnAd(ad)) {
        if (isSplashAd(ad)) splashAdDidShow(ad);
        return;
    }
    if (auto delegate = returnAdDelegateFor("didShowAd:")) delegate->didShowAd(ad);
}

void TRAEventAdManager::failedShowAd(const Ref<TRAAbstractAd>& ad, const Ref<NSError>& error) {
    if (!isReturnAd(ad)) {
        if (isSplashAd(ad)) splashAdFailedShow(ad, error);
        return;
    }
    if (auto delegate = returnAdDelegateFor("failedShowAd:withError:")) delegate->failedShowAd(ad, error);
}

void TRAEventAdManager::didCloseAd(const Ref<TRAAbstractAd>& ad) {
    if (!isReturnAd(ad)) {
        if (isSplashAd(ad)) splashAdDidClose(ad);
        return;
    }
    if (auto delegate = returnAdDelegateFor("didCloseAd:")) delegate->didCloseAd(ad);
    reloadReturnAd();
}

void TRAEventAdManager::didClickAd(const Ref<TRAAbstractAd>& ad) {
    if (!isReturnAd(ad)) {
        if (isSplashAd(ad)) splashAdDidClick(ad);
        return;
    }
    if (auto delegate = returnAdDelegate_.lock()) {
        if (delegate->respondsToSelector("didClickAd:")) delegate->didClickAd(ad);
        else if (delegate->respondsToSelector("didCloseAd:")) delegate->didCloseAd(ad);
    }
    reloadReturnAd();
}

void TRAEventAdManager::didCloseInAppStore(const Ref<TRAAbstractAd>& ad) {
    if (!isReturnAd(ad)) {
        if (isSplashAd(ad)) splashAdDidCloseInAppStore(ad);
        return;
    }
    if (auto delegate = returnAdDelegateFor("didCloseInAppStore:")) delegate->didCloseInAppStore(ad);
}

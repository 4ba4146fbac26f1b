#include "Trillium/TRATrilliumSDK.h"

#include <atomic>

#include "Trillium/TRADisplayHooks.h"
#include "Trillium/TRALog.h"

namespace {
std::atomic<bool> sharedInstanceMade{false};
}  // namespace

Ref<TRATrilliumSDK> TRATrilliumSDK::sharedInstance() {
    static Ref<TRATrilliumSDK> shared = [] {
        auto sdk = NSObject::alloc<TRATrilliumSDK>()->init();
        sharedInstanceMade.store(true);
        return sdk;
    }();
    return shared;
}

bool TRATrilliumSDK::hasSharedInstance() { return sharedInstanceMade.load(); }

Ref<TRATrilliumSDK> TRATrilliumSDK::init() {
    // Made now, so that the manager hears the launch notification.
    if (!eventAdManager()) TRALog::info("No lifecycle manager is linked yet; launch, background and splash tasks wait for one.");
    return self<TRATrilliumSDK>();
}

Ref<TRAEventAdManaging> TRATrilliumSDK::eventAdManager() const {
    const auto& make = TRADisplayHooks::shared().eventAdManager;
    return make ? make() : nullptr;
}

Ref<TRAEventAdManaging> TRATrilliumSDK::managerFor(const char* call) const {
    auto manager = eventAdManager();
    if (!manager) TRALog::infof("%@: no lifecycle manager is linked; the call does nothing.", std::string(call));
    return manager;
}

void TRATrilliumSDK::disableReturnAd() {
    if (auto manager = managerFor("disableReturnAd")) manager->disableReturnAd();
}

void TRATrilliumSDK::showSplashAd() { showSplashAdWithDelegate(nullptr, nullptr, nullptr, std::nullopt); }

void TRATrilliumSDK::showSplashAdWithDelegate(const Ref<TRADelegateProtocol>& delegate) {
    showSplashAdWithDelegate(delegate, nullptr, nullptr, std::nullopt);
}

void TRATrilliumSDK::showSplashAdWithPreferences(const Ref<TRASplashPreferences>& preferences) {
    showSplashAdWithDelegate(nullptr, nullptr, preferences, std::nullopt);
}

void TRATrilliumSDK::showSplashAdWithDelegate(const Ref<TRADelegateProtocol>& delegate,
                                              const Ref<TRASplashPreferences>& preferences) {
    showSplashAdWithDelegate(delegate, nullptr, preferences, std::nullopt);
}

void TRATrilliumSDK::showSplashAdWithDelegate(const Ref<TRADelegateProtocol>& delegate,
                                              const Ref<TRAAdPreferences>& adPreferences,
                                              const Ref<TRASplashPreferences>& preferences) {
    showSplashAdWithDelegate(delegate, adPreferences, preferences, std::nullopt);
}

void TRATrilliumSDK::showSplashAdWithDelegate(const Ref<TRADelegateProtocol>& delegate,
                                              const Ref<TRAAdPreferences>& adPreferences,
                                              const Ref<TRASplashPreferences>& preferences,
                                              const std::optional<std::string>& adTag) {
    auto manager = managerFor("showSplashAd");
    if (delegate && manager) manager->setSplashAdDelegate(delegate);
    if (!appID_ || appID_->empty()) {
        TRALog::error("Application ID is nil or empty.");
        return;
    }
    if (manager) manager->showSplashAdWithPreferences(preferences, adPreferences, adTag);
}

void TRATrilliumSDK::showInterstitialSplashAdWithDelegate(const Ref<TRADelegateProtocol>& delegate,
                                                          const Ref<TRASplashPreferences>& preferences) {
    showSplashAdWithDelegate(delegate, preferences);
    if (auto manager = eventAdManager()) manager->appDidFinishLaunchingForInterstitialSplash();
}

void TRATrilliumSDK::showVisualCacheDB() {
    if (auto manager = managerFor("showVisualCacheDB")) manager->showVisualCacheDB();
}
void TRATrilliumSDK::hideVisualCacheDB() {
    if (auto manager = managerFor("hideVisualCacheDB")) manager->hideVisualCacheDB();
}
void TRATrilliumSDK::clearCacheDB() {
    if (auto manager = managerFor("clearCacheDB")) manager->clearCacheDB();
}

void TRATrilliumSDK::unitySDKInitialize() {
    if (auto manager = managerFor("unitySDKInitialize")) manager->appDidFinishLaunching();
}
void TRATrilliumSDK::unityAppWillEnterForeground() {
    if (auto manager = managerFor("unityAppWillEnterForeground")) manager->appWillEnterForeground();
}
void TRATrilliumSDK::unityAppDidEnterBackground() {
    if (auto manager = managerFor("unityAppDidEnterBackground")) manager->appDidEnterBackground();
}

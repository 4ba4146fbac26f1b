#include "Trillium/TRATrilliumSDK.h"

#include "Trillium/TRADisplayHooks.h"
#include "Trillium/TRALog.h"

Ref<TRATrilliumSDK> TRATrilliumSDK::sharedInstance() {
    static Ref<TRATrilliumSDK> shared = NSObject::alloc<TRATrilliumSDK>()->init();
    return shared;
}

Ref<TRATrilliumSDK> TRATrilliumSDK::init() {
    if (const auto& make = TRADisplayHooks::shared().eventAdManager) manager_ = make();
    else TRALog::info("No lifecycle manager is linked; launch, background and splash tasks are off.");
    return self<TRATrilliumSDK>();
}

void TRATrilliumSDK::disableReturnAd() {
    if (manager_) manager_->disableReturnAd();
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
    if (delegate && manager_) manager_->setSplashAdDelegate(delegate);
    if (!appID_ || appID_->empty()) {
        TRALog::error("Application ID is nil or empty.");
        return;
    }
    if (manager_) manager_->showSplashAdWithPreferences(preferences, adPreferences, adTag);
}

void TRATrilliumSDK::showInterstitialSplashAdWithDelegate(const Ref<TRADelegateProtocol>& delegate,
                                                          const Ref<TRASplashPreferences>& preferences) {
    showSplashAdWithDelegate(delegate, preferences);
    if (manager_) manager_->appDidFinishLaunchingForInterstitialSplash();
}

void TRATrilliumSDK::showVisualCacheDB() {
    if (manager_) manager_->showVisualCacheDB();
}
void TRATrilliumSDK::hideVisualCacheDB() {
    if (manager_) manager_->hideVisualCacheDB();
}
void TRATrilliumSDK::clearCacheDB() {
    if (manager_) manager_->clearCacheDB();
}

void TRATrilliumSDK::unitySDKInitialize() {
    if (manager_) manager_->appDidFinishLaunching();
}
void TRATrilliumSDK::unityAppWillEnterForeground() {
    if (manager_) manager_->appWillEnterForeground();
}
void TRATrilliumSDK::unityAppDidEnterBackground() {
    if (manager_) manager_->appDidEnterBackground();
}

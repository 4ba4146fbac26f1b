// The Trillium entry singleton: the identifiers the application gives, the
// wrapper and mode flags, the client-wide preferences, and the calls it
// forwards to the lifecycle manager, which its creation brings into being
// (through TRADisplayHooks::eventAdManager). The manager is looked up at each
// call, so a display side registered after the entry point was made is still
// reached; without one a call is logged and does nothing. Main thread.
#pragma once

#include <optional>
#include <string>

#include "Trillium/TRADelegateProtocol.h"
#include "Trillium/TRAEventAdManaging.h"
#include "Trillium/TRASDKPreferences.h"
#include "platform/runtime/NSObject.h"

class TRAAdPreferences;
class TRASplashPreferences;

class TRATrilliumSDK : public NSObject {
public:
    // Created once; its init creates the lifecycle manager, so that the
    // manager hears the application's launch notification.
    static Ref<TRATrilliumSDK> sharedInstance();
    // Whether sharedInstance has made the entry point (without making it).
    static bool hasSharedInstance();
    Ref<TRATrilliumSDK> init();

    const std::optional<std::string>& appID() const { return appID_; }
    void setAppID(std::optional<std::string> appID) { appID_ = std::move(appID); }
    const std::optional<std::string>& devID() const { return devID_; }
    void setDevID(std::optional<std::string> devID) { devID_ = std::move(devID); }

    // Which engine wrapper or mediation layer drives the client (all NO for
    // an ordinary application).
    bool isUnityEnvironment() const { return unity_; }
    void setIsUnityEnvironment(bool v) { unity_ = v; }
    bool isCoronaEnvironment() const { return corona_; }
    void setIsCoronaEnvironment(bool v) { corona_ = v; }
    bool isCocos2DXEnvironment() const { return cocos2DX_; }
    void setIsCocos2DXEnvironment(bool v) { cocos2DX_ = v; }
    bool isAdMobMediationEnvironment() const { return adMobMediation_; }
    void setIsAdMobMediationEnvironment(bool v) { adMobMediation_ = v; }
    bool isMoPubMediationEnvironment() const { return moPubMediation_; }
    void setIsMoPubMediationEnvironment(bool v) { moPubMediation_ = v; }
    bool getIsShowCaseAppOfflineMode() const { return showCaseOffline_; }
    void setIsShowCaseAppOfflineMode(bool v) { showCaseOffline_ = v; }

    const Ref<TRASDKPreferences>& preferences() const { return preferences_; }
    void setPreferences(Ref<TRASDKPreferences> preferences) { preferences_ = std::move(preferences); }

    // The lifecycle manager (null while the display library provides none).
    Ref<TRAEventAdManaging> eventAdManager() const;

    void disableReturnAd();

    // The splash forms: each ends in the full form with nil for what it lacks.
    void showSplashAd();
    void showSplashAdWithDelegate(const Ref<TRADelegateProtocol>& delegate);
    void showSplashAdWithPreferences(const Ref<TRASplashPreferences>& preferences);
    void showSplashAdWithDelegate(const Ref<TRADelegateProtocol>& delegate, const Ref<TRASplashPreferences>& preferences);
    void showSplashAdWithDelegate(const Ref<TRADelegateProtocol>& delegate, const Ref<TRAAdPreferences>& adPreferences,
                                  const Ref<TRASplashPreferences>& preferences);
    // Sets the manager's splash delegate when one is given; with a non-empty
    // application identifier asks the manager for the splash, else logs
    // "Application ID is nil or empty.".
    void showSplashAdWithDelegate(const Ref<TRADelegateProtocol>& delegate, const Ref<TRAAdPreferences>& adPreferences,
                                  const Ref<TRASplashPreferences>& preferences,
                                  const std::optional<std::string>& adTag);
    void showInterstitialSplashAdWithDelegate(const Ref<TRADelegateProtocol>& delegate,
                                              const Ref<TRASplashPreferences>& preferences);

    void showVisualCacheDB();
    void hideVisualCacheDB();
    void clearCacheDB();

    // Engine-wrapper entries: the manager's launch, foreground and background.
    void unitySDKInitialize();
    void unityAppWillEnterForeground();
    void unityAppDidEnterBackground();

private:
    // The manager for a forwarded call; null (logged with the call) when none.
    Ref<TRAEventAdManaging> managerFor(const char* call) const;

    std::optional<std::string> appID_;
    std::optional<std::string> devID_;
    bool unity_ = false, corona_ = false, cocos2DX_ = false, adMobMediation_ = false, moPubMediation_ = false;
    bool showCaseOffline_ = false;
    Ref<TRASDKPreferences> preferences_;
};

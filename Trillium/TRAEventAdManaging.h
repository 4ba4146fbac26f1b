// What the entry point forwards to the lifecycle manager (TRAEventAdManager,
// which implements this). Every method does nothing by default.
#pragma once

#include <optional>
#include <string>

#include "Trillium/TRADelegateProtocol.h"
#include "platform/runtime/NSObject.h"

class TRAAdPreferences;
class TRASplashPreferences;

class TRAEventAdManaging : public virtual NSObjectProtocol {
public:
    virtual void disableReturnAd() {}
    virtual void setSplashAdDelegate(const Ref<TRADelegateProtocol>& delegate) { (void)delegate; }
    virtual void showSplashAdWithPreferences(const Ref<TRASplashPreferences>& splashPreferences,
                                             const Ref<TRAAdPreferences>& adPreferences,
                                             const std::optional<std::string>& adTag) {
        (void)splashPreferences, (void)adPreferences, (void)adTag;
    }
    virtual void appDidFinishLaunchingForInterstitialSplash() {}
    virtual void showVisualCacheDB() {}
    virtual void hideVisualCacheDB() {}
    virtual void clearCacheDB() {}
    virtual void appDidFinishLaunching() {}
    virtual void appWillEnterForeground() {}
    virtual void appDidEnterBackground() {}
};

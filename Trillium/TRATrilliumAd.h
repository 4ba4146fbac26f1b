// The public Trillium full-screen ad: loads through the shared ad cache,
// shows the loaded ad when the ad rules allow, and relays what the ad screen
// reports to the publisher's delegate. Event types: 0 ordinary
// ("INAPP_OVERLAY"), 1 return ad ("INAPP_RETURN"), 2 splash ("INAPP_SPLASH").
// Ad types: 1 full page, 5 full screen that may carry video, 3 automatic (5).
// Main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Trillium/TRAAbstractAd.h"
#include "Trillium/TRAAd.h"
#include "Trillium/TRAAdPreferences.h"
#include "Trillium/TRACacheKey.h"
#include "Trillium/TRASmartRedirectWebViewDelegate.h"
#include "Trillium/TRAViewControllerDelegate.h"
#include "platform/foundation/Value.h"

class TRATrilliumAd : public TRAAbstractAd, public TRAViewControllerDelegate, public TRASmartRedirectWebViewDelegate {
public:
    enum : int64_t { AdTypeFullPage = 1, AdTypeAutomatic = 3, AdTypeOverlay = 5 };
    enum : int64_t { EventTypeOrdinary = 0, EventTypeReturn = 1, EventTypeSplash = 2 };

    Ref<TRATrilliumAd> init() { return self<TRATrilliumAd>(); }

    // The placement under which a show is counted (by event type).
    std::string placement() const;

    // Ad type 3, no delegate.
    void loadAd();
    void loadAd(int64_t adType, const Ref<TRADelegateProtocol>& delegate);
    void loadAd(int64_t adType, const Ref<TRADelegateProtocol>& delegate, const Ref<TRAAdPreferences>& adPreferences);
    // Loads through the shared cache; the delegate (held weakly) hears
    // didLoadAd: or failedLoadAd:withError:. `params` are extra request
    // fields (a dictionary).
    void loadAd(int64_t adType, const Ref<TRADelegateProtocol>& delegate, const Ref<TRAAdPreferences>& adPreferences,
                const Value& params);

    // A loaded ad that is still in the cache, not yet shown.
    bool isReady() const;
    void showAd() { showAdWithAdTag(std::nullopt); }
    // Shows the loaded ad when the ad rules allow it; the outcome reaches the
    // delegate as didShowAd: or failedShowAd:withError:, never inside this
    // call. An ad whose screen refuses to display it goes back to the cache.
    void showAdWithAdTag(const std::optional<std::string>& adTag);
    const Ref<TRAAd>& internalAd() const { return internalAd_; }

    // From the cache.
    void cacheDidLoadAd(const Ref<TRAAd>& ad);
    void cacheFailedToLoadAdWithError(const Ref<NSError>& error);

    // TRAViewControllerDelegate.
    void didShowAd() override;
    void failedDisplayAd(const Ref<NSError>& error) override;
    void willCloseAd() override {}
    void didCloseAdWithClick(bool click) override;
    void allowAutoRotate() override;
    void didCompleteVideo() override;

    // TRASmartRedirectWebViewDelegate (a store sheet's close reaches the publisher).
    void didExitWebViewWithInAppBrowser(const std::optional<std::string>&) override {}
    void didFinishWithError(const Ref<NSError>&) override {}
    void didCloseInAppStore() override;
    PLATFORM_RESPONDS_TO("didExitWebViewWithInAppBrowser:", "didFinishWithError:", "allowAutoRotate",
                         "didCloseInAppStore")

private:
    Ref<TRACacheKey> cacheKey() const;
    void failShow(const std::string& description);

    Ref<TRAAd> internalAd_;
    int64_t internalAdType_ = AdTypeOverlay;
    bool displayPending_ = false;  // handed to a screen that has not displayed it yet
};

// The Halcyon client's loading service (public; HLSdk owns one as
// adService). A caller asks for the next ad of a size and type and names a
// load delegate, which hears exactly one answer: at once, on the caller's
// thread, with the kept ad while it is fresh (sizes that refresh keep their
// last ad for slot 21, 22 or 24 seconds) or with -1 for a size and type the
// service has no load state for; otherwise later, on the main thread, with a
// preloaded ad or the outcome of an ad request. Loads of one size and type
// while one is in flight share its answer, in the order they called; the
// first load of a preloaded spec may share the start-up preload's request.
// Ad views registered as update observers (held weakly) get each new ad of
// their size and the refresh ticks that load them; a view that asked for the
// load itself hears it once, as its delegate. Any thread.
//
// Clicks (main thread, from the display side's views and video controllers):
// a background click records the click in the persisted postback queue and
// leaves at once; a foreground or video click waits for the click-tracking
// request (slots 123 to 125), then leaves for the destination or the store
// page (slot 156: also after a failed request). A click whose view was
// invalidated meanwhile goes nowhere; a click on an ad without a tracking URL
// that had to wait for it ends with the overlay removed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLAdType.h"
#include "halcyon/core/HLStoreKitProductViewController.h"
#include "platform/foundation/NSURL.h"
#include "platform/runtime/NSObject.h"

namespace platform {
class UIViewController;
}

class HLAdDisplayDelegate;
class HLAdLoadState;
class HLAdViewForegroundClickTrackingProtocol;
class HLAdViewInternalProtocol;
class HLPostbackDelegate;
class HLAdServiceLoadProxy;
class HLLogManager;
class HLPreloadedAdManager;
class HLSdk;

class HLAdService : public NSObject, public HLStoreKitProductViewControllerDelegate {
public:
    // The load states: regular banner, medium rectangle, leaderboard and
    // interstitial; incentivized interstitial.
    Ref<HLAdService> initWithSdk(const Ref<HLSdk>& sdk);

    // Sent by every ad request as "accept".
    static std::string accepts() { return "video"; }

    // Of the regular type.
    void loadNextAd(const Ref<HLAdSize>& size, const Ref<HLAdLoadDelegate>& delegate);
    // A null size, delegate or type raises NSInvalidArgumentException ("No ad
    // size specified", "No delegate specified", "No ad type specified").
    void loadNextAd(const Ref<HLAdSize>& size, const Ref<HLAdType>& type, const Ref<HLAdLoadDelegate>& delegate);
    void preloadAdOfSize(const Ref<HLAdSize>& size);
    bool hasPreloadedAdOfSize(const Ref<HLAdSize>& size);
    // Fills the preload queues slots 27 and 28 name (the start-up task).
    void scheduleAdPreload();
    // In the regular-type state of the size; a null observer or size raises.
    void addAdUpdateObserver(const Ref<HLAdUpdateObserver>& observer, const Ref<HLAdSize>& size);
    void removeAdUpdateObserver(const Ref<HLAdUpdateObserver>& observer, const Ref<HLAdSize>& size);
    // Forgets the kept ad of the ad's size and type (a click left it).
    void expireLoadStateForAd(const Ref<HLAd>& ad);

    // ---- Steps
    void doLoadAdForSize(const Ref<HLAdSize>& size, const Ref<HLAdType>& type,
                         const Ref<HLAdServiceLoadProxy>& delegateProxy);
    bool shouldMergeInitialPreloadsForSize(const Ref<HLAdSize>& size, const Ref<HLAdType>& type);
    bool hasUserEnabledPreloadTypeForAdSize(const Ref<HLAdSize>& size, const Ref<HLAdType>& type);
    bool autoRefreshEnabledForSize(const Ref<HLAdSize>& size);
    // -1 for a size that does not refresh.
    int64_t autoRefreshSecondsForSize(const Ref<HLAdSize>& size);
    // A refresh tick s + 2 seconds from now on queue 0 (s ≥ 1), unless one
    // is pending for the size already.
    void scheduleAdUpdateFor(const Ref<HLAdSize>& size);
    // A tick: the observers are asked on the main thread whether they would
    // show an ad; a load starts when one would and the kept ad has expired.
    void updateAdIfNecessary(const Ref<HLAdSize>& size);
    // The tick that was pending for the size is running or gone.
    void updateTickEnded(const Ref<HLAdSize>& size);

    // ---- Clicks (main thread; a null ad raises "No ad specified")
    // Recorded through the persisted postback queue; the URL opens at once.
    void trackClickOn(const Ref<HLAd>& ad, const std::optional<std::string>& placement,
                      const Ref<HLAdViewInternalProtocol>& adView, const Ref<platform::NSURL>& launchURL);
    // Leaves for `launchURL` once the tracking request has ended.
    void trackForegroundClickOn(const Ref<HLAd>& ad, const std::optional<std::string>& placement,
                                const Ref<HLAdViewInternalProtocol>& adView, const Ref<platform::NSURL>& launchURL);
    // Leaves for the ad's click destination (`launchURL` is not used), or
    // opens the store page over `viewController` at once for a store ad.
    void trackVideoClickOn(const Ref<HLAd>& ad, const std::optional<std::string>& placement,
                           const Ref<HLAdViewForegroundClickTrackingProtocol>& videoView,
                           const Ref<platform::NSURL>& launchURL, const Ref<platform::UIViewController>& viewController);
    // The store page for a store ad; otherwise the overlay removed, the
    // click told to both display delegates, the presenter dismissed, the kept
    // ad forgotten and the URL opened.
    void launchURL(const Ref<platform::NSURL>& url, const Ref<HLAd>& ad, const Ref<HLAdViewInternalProtocol>& adView);
    void launchURL(const Ref<platform::NSURL>& url, const Ref<HLAd>& ad,
                   const Ref<platform::UIViewController>& viewController);
    void dispatchPersistentPostbackForAd(const Ref<HLAd>& ad, const std::optional<std::string>& placement);
    // False (logged) for an ad without a tracking URL: `notify` is never told.
    bool dispatchPostbackForAd(const Ref<HLAd>& ad, const std::optional<std::string>& placement,
                               const Ref<HLPostbackDelegate>& notify);
    // On the main queue: the page presented from the controller, paused.
    void showStoreKitControllerForAd(const Ref<HLAd>& ad, const Ref<platform::UIViewController>& viewController);
    // On the main queue: the page over the key window's top controller.
    void showStoreKitControllerForAd(const Ref<HLAd>& ad, const Ref<HLAdViewInternalProtocol>& adView);
    // A page from the display library (HLDisplayHooks), loading the ad's
    // product; null (logged) when none is supplied.
    Ref<HLStoreKitProductViewController> createAndLoadStoreKitProductViewControllerWithAd(
        const Ref<HLAd>& ad, const Ref<HLAdViewInternalProtocol>& adView,
        const Ref<platform::UIViewController>& viewController);
    // Presents the page unless a store page is already on screen.
    void handleClickForStoreKit(const Ref<HLAdViewInternalProtocol>& adView, const Ref<HLAd>& ad,
                                const Ref<HLStoreKitProductViewController>& page);
    // The page closed: dismissed, then the kept ad forgotten and the video
    // controller resumed.
    void productViewControllerDidFinish(const Ref<HLStoreKitProductViewController>& page, const Ref<HLAd>& ad,
                                        const Ref<HLAdViewInternalProtocol>& adView,
                                        const Ref<platform::UIViewController>& interstitialViewController) override;

    Ref<HLSdk> sdk() const { return sdk_.lock(); }
    Ref<HLPreloadedAdManager> preloadManager() const;
    // The state of a type and size; null outside the table.
    Ref<HLAdLoadState> loadStateFor(const Ref<HLAdType>& type, const Ref<HLAdSize>& size) const;

private:
    Ref<HLLogManager> logger() const;

    Weak<HLSdk> sdk_;
    // Built once at creation, never changed: read without a lock.
    std::vector<std::pair<Ref<HLAdType>, std::vector<Ref<HLAdLoadState>>>> adLoadStates_;
};

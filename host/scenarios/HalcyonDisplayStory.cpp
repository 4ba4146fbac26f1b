#include "host/scenarios/HalcyonDisplayStory.h"

#include <functional>
#include <string>

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdService.h"
#include "halcyon/display/HLAdRewardDelegate.h"
#include "halcyon/display/HLCloseButton.h"
#include "halcyon/display/HLIncentivizedInterstitialAd.h"
#include "halcyon/display/HLInterstitialAd.h"
#include "host/scenarios/Scenarios.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/ui/UIAlertView.h"
#include "simulator/HalcyonService.h"

namespace {

// The video interstitial's countdown and close delay, in seconds.
constexpr int kHalcyonVideoCountdown = 15;
constexpr int kHalcyonVideoCloseDelay = 5;
constexpr const char* kHalcyonRewardParams = R"({"ghost_points": 50})";
constexpr const char* kHalcyonRewardUser = "ghost-hunter-42";
constexpr const char* kHalcyonScenarioPage =
    "<html><head><script src=\"{RES}ad.js\"></script><link rel='stylesheet' href='{RES}ad.css'><style>"
    "body { padding: 88px 24px 0; }"
    ".card { padding: 24px 20px; border-radius: 18px; background: #f2efe6; color: #1d2b3a;"
    " text-align: center; border: 3px solid #e0a030; }"
    "h1 { font-size: 26px; margin: 0 0 10px; } p { margin: 0 0 16px; }"
    ".banner { display: block; width: 100%; height: 8px; }"
    ".cta { display: inline-block; margin-top: 18px; padding: 10px 26px; border-radius: 20px; background: #d9542b;"
    " color: #ffffff; font-weight: bold; text-decoration: none; }"
    "</style></head><body><div class='card'><h1>Spectral Scanner Pro</h1>"
    "<p>Twice the range, half the static: see what the radar misses.</p>"
    "<a href=\"{BASE}landing\"><img class='banner' src=\"{RES}banner.png\"></a>"
    "<a class='cta' href=\"{BASE}landing\">Get it now</a></div></body></html>";

std::string halcyonAdName(const Ref<HLAd>& ad) { return ad ? ad->description() : std::string("(no ad)"); }

std::string halcyonJson(const Value& value) {
    auto data = NSJSONSerialization::dataWithJSONObject(value);
    return data ? data->toString() : value.description();
}

// Everything the application hears of one ad object, to the timeline.
class HalcyonDisplayListener : public NSObject,
                               public HLAdLoadDelegate,
                               public HLAdDisplayDelegate,
                               public HLAdVideoPlaybackDelegate,
                               public HLAdRewardDelegate {
public:
    HalcyonDisplayListener(Timeline* timeline, std::string what) : timeline_(timeline), what_(std::move(what)) {}

    void adServiceDidLoadAd(const Ref<HLAdService>&, const Ref<HLAd>& ad) override {
        tell("adService:didLoadAd: " + halcyonAdName(ad));
    }
    void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>&, int32_t code) override {
        tell("adService:didFailToLoadAdWithError: " + std::to_string(code));
    }
    void adWasDisplayedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override {
        tell("ad:wasDisplayedIn: " + halcyonAdName(ad));
        shown = view;
    }
    void adWasHiddenIn(const Ref<HLAd>& ad, const Ref<UIView>&) override {
        tell("ad:wasHiddenIn: " + halcyonAdName(ad));
        shown = nullptr;
    }
    void adWasClickedIn(const Ref<HLAd>& ad, const Ref<UIView>&) override {
        tell("ad:wasClickedIn: " + halcyonAdName(ad));
    }
    void videoPlaybackBeganInAd(const Ref<HLAd>& ad) override { tell("videoPlaybackBeganInAd: " + halcyonAdName(ad)); }
    void videoPlaybackEndedInAd(const Ref<HLAd>& ad, const Value& percent, bool fullyWatched) override {
        tell("videoPlaybackEndedInAd: " + halcyonAdName(ad) + " atPlaybackPercent: " + percent.stringValue() +
             " fullyWatched: " + (fullyWatched ? "YES" : "NO"));
    }
    void rewardValidationRequestForAdDidSucceedWithResponse(const Ref<HLAd>& ad, const Value& response) override {
        tell("rewardValidationRequestForAd: " + halcyonAdName(ad) + " didSucceedWithResponse: " + halcyonJson(response));
    }
    void rewardValidationRequestForAdDidExceedQuotaWithResponse(const Ref<HLAd>& ad, const Value& response) override {
        tell("rewardValidationRequestForAd: " + halcyonAdName(ad) +
             " didExceedQuotaWithResponse: " + halcyonJson(response));
    }
    void rewardValidationRequestForAdWasRejectedWithResponse(const Ref<HLAd>& ad, const Value& response) override {
        tell("rewardValidationRequestForAd: " + halcyonAdName(ad) + " wasRejectedWithResponse: " + halcyonJson(response));
    }
    void rewardValidationRequestForAdDidFailWithError(const Ref<HLAd>& ad, int32_t code) override {
        tell("rewardValidationRequestForAd: " + halcyonAdName(ad) + " didFailWithError: " + std::to_string(code));
    }
    void userDeclinedToViewAd(const Ref<HLAd>& ad) override { tell("userDeclinedToViewAd: " + halcyonAdName(ad)); }
    PLATFORM_RESPONDS_TO("rewardValidationRequestForAd:didSucceedWithResponse:",
                         "rewardValidationRequestForAd:didExceedQuotaWithResponse:",
                         "rewardValidationRequestForAd:wasRejectedWithResponse:",
                         "rewardValidationRequestForAd:didFailWithError:", "userDeclinedToViewAd:")

    // The view the ad shows in, from its display to its hiding (main thread).
    Ref<UIView> shown;

private:
    void tell(const std::string& what) { timeline_->add("app", what_ + " " + what); }

    Timeline* timeline_;
    std::string what_;
};

// The frontmost visible close button on the screen, as the user sees it.
Ref<UIView> halcyonVisibleCloseButton(const Ref<UIView>& view) {
    if (!view || view->isHidden() || view->alpha() < 0.01f) return nullptr;
    const auto subviews = view->subviews();
    for (auto it = subviews.rbegin(); it != subviews.rend(); ++it)
        if (Ref<UIView> found = halcyonVisibleCloseButton(*it)) return found;
    return view->isKindOfClass<HLCloseButton>() ? view : nullptr;
}

class HalcyonDisplayStory {
public:
    HalcyonDisplayStory(ScenarioContext& context, Ref<HLSdk> sdk, Ref<UIWindow> window)
        : context_(context), timeline_(context.timeline()), sdk_(std::move(sdk)), window_(std::move(window)) {}

    bool play() {
        return showHtmlInterstitial() && showVideoInterstitial() && showRewardedVideo();
    }

private:
    bool showHtmlInterstitial() {
        auto interstitial = NSObject::alloc<HLInterstitialAd>()->initInterstitialAdWithSdk(sdk_);
        auto listener = std::make_shared<HalcyonDisplayListener>(&timeline_, "interstitial");
        interstitial->setAdLoadDelegate(listener);
        interstitial->setAdDisplayDelegate(listener);
        interstitial->setAdVideoPlaybackDelegate(listener);
        // The next interstitial the client loads (the preload refill) is the video.
        if (simulator::HalcyonService* service = context_.embeddedHalcyon()) service->setAd(videoAd());
        timeline_.add("app", "HLInterstitialAd showOver:placement: level-start");
        interstitial->showOver(window_, std::string("level-start"));
        if (!context_.stay(3)) return false;
        snapshot(*listener, "the interstitial", "halcyon-interstitial-dialog.png");
        if (!tapClose("the interstitial") || !context_.stay(2)) return false;
        interstitial_ = interstitial;
        interstitialListener_ = listener;
        return true;
    }

    bool showVideoInterstitial() {
        timeline_.add("app", "HLInterstitialAd showOver:placement: level-end");
        interstitial_->showOver(window_, std::string("level-end"));
        // The countdown runs; the close button fades in after its delay.
        if (!context_.stay(kHalcyonVideoCloseDelay + 1)) return false;
        if (simulator::HalcyonService* service = context_.embeddedHalcyon()) service->setAd(halcyonScenarioAd());
        snapshot(*interstitialListener_, "the video interstitial", "halcyon-video.png");
        return tapClose("the video interstitial") && context_.stay(2);
    }

    bool showRewardedVideo() {
        auto rewarded = NSObject::alloc<HLIncentivizedInterstitialAd>()->initWithSdk(sdk_);
        auto listener = std::make_shared<HalcyonDisplayListener>(&timeline_, "rewarded");
        rewarded->setAdDisplayDelegate(listener);
        rewarded->setAdVideoPlaybackDelegate(listener);
        HLIncentivizedInterstitialAd::setUserIdentifier(std::string(kHalcyonRewardUser));
        timeline_.add("app", std::string("HLIncentivizedInterstitialAd setUserIdentifier: ") + kHalcyonRewardUser +
                                 ", preloadAndNotify:");
        rewarded->preloadAndNotify(listener);
        if (!context_.stay(1)) return false;
        timeline_.add("app", "HLIncentivizedInterstitialAd showOver:placement:andNotify: bonus-scan");
        rewarded->showOver(window_, std::string("bonus-scan"), listener);
        if (!context_.stay(0.5)) return false;
        answerAlert("Watch Now");
        // The validation runs while the video plays to its end.
        if (!context_.stay(kHalcyonVideoCountdown + 2)) return false;
        snapshot(*listener, "the rewarded video's poststitial", "halcyon-poststitial.png");
        if (!tapClose("the rewarded video") || !context_.stay(0.5)) return false;
        answerAlert("Okay");
        return context_.stay(2);
    }

    simulator::HalcyonAd videoAd() {
        simulator::HalcyonAd ad = simulator::HalcyonAd::videoAd();
        ad.html = halcyonScenarioAd().html;
        ad.size = "INTER";
        ad.extraMembersJson = "\"countdown_length\": " + std::to_string(kHalcyonVideoCountdown) +
                              ", \"close_delay\": " + std::to_string(kHalcyonVideoCloseDelay);
        return ad;
    }

    bool tapClose(const std::string& what) {
        Ref<UIView> button = halcyonVisibleCloseButton(window_);
        if (!button) {
            timeline_.add("host", "no close button shows on " + what);
            return context_.stay(0);
        }
        timeline_.add("user", "taps the close button of " + what);
        window_->simulateTap(button);
        return true;
    }

    // The alert on screen (its texts to the timeline); the user taps `button`.
    void answerAlert(const std::string& button) {
        Ref<UIAlertView> alert = UIAlertView::visibleAlert();
        if (!alert) {
            timeline_.add("host", "no alert shows");
            return;
        }
        std::string buttons;
        int64_t index = -1;
        for (int64_t i = 0; i < alert->numberOfButtons(); ++i) {
            const std::string title = alert->buttonTitleAtIndex(i).value_or("");
            buttons += (i ? " | " : "") + title;
            if (title == button) index = i;
        }
        timeline_.add("alert", "\"" + alert->title().value_or("") + "\": \"" + alert->message().value_or("") +
                                   "\" [" + buttons + "]");
        if (index < 0) index = alert->cancelButtonIndex();
        timeline_.add("user", "taps \"" + alert->buttonTitleAtIndex(index).value_or("") + "\"");
        alert->simulateTapButtonAtIndex(index);
    }

    void snapshot(const HalcyonDisplayListener& listener, const std::string& what, const std::string& name) {
        snapshotScenarioScreen(context_, window_, listener.shown, what, name);
    }

    ScenarioContext& context_;
    Timeline& timeline_;
    Ref<HLSdk> sdk_;
    Ref<UIWindow> window_;
    Ref<HLInterstitialAd> interstitial_;
    std::shared_ptr<HalcyonDisplayListener> interstitialListener_;
};

}  // namespace

simulator::HalcyonAd halcyonScenarioAd() {
    simulator::HalcyonAd ad;
    ad.html = std::string(kHalcyonScenarioPage);
    return ad;
}

void prepareHalcyonDisplayStory(simulator::HalcyonService& service, Timeline& timeline) {
    simulator::HalcyonAd rewarded = simulator::HalcyonAd::videoAd();
    rewarded.html = halcyonScenarioAd().html;
    rewarded.size = "INTER";
    service.setIncentivizedAd(rewarded);
    service.setRewardResult("accepted", kHalcyonRewardParams);
    timeline.add("host", std::string("Halcyon service: incentivized ads are videos; rewards are accepted with ") +
                             kHalcyonRewardParams);
}

bool playHalcyonDisplayStory(ScenarioContext& context, const Ref<HLSdk>& sdk, const Ref<UIWindow>& window) {
    if (!sdk || !window) return true;
    return HalcyonDisplayStory(context, sdk, window).play();
}

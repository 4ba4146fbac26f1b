// A template interstitial placed in a view the application owns (the
// container view): after the model has loaded an ad the creative is
// prerendered in an interstitial container sized to the container view,
// rendered into it at once (taking no touches) and the load is reported. The
// application then says when the ad is on screen (onPresented, accepted only
// when the container view lies wholly on screen, has a side of at least 380
// points and covers at least 75 % of the screen; the impression pixel goes
// once per ad) and when it is hidden again (onHidden). Appearances, refused
// presentations and aspect-ratio shortfalls are counted and reported to the
// ad's instrumentation pixel at the next load. Metrics (the model is their
// key): counters 105 "mi_adrc", 102 "lac", 113 "mi_rc", 114 "mi_rac", 117
// "mi_rrcfc", 118 "mi_rarfc"; timers 2 "i_tl", 5 "i_pl", 8 "i_rl", 12
// "mi_sd". Main thread.
#pragma once

#include <atomic>

#include "platform/ui/UIScreen.h"
#include "tamarind/TMATBaseAdController.h"
#include "tamarind/TMATInterstitialAdContainer.h"

class TMATModelessInterstitialController : public TMATBaseAdController, public TMATInterstitialAdContainerDelegate {
public:
    static constexpr float kMinimumSideLength = 380;
    static constexpr double kMinimumScreenFraction = 0.75;

    static Ref<TMATModelessInterstitialController> adControllerWithDelegate(
        const Ref<TMATBaseAdControllerDelegate>& delegate, const Ref<UIView>& containerView);
    // initWithDelegate, then keeps the container view (weakly).
    Ref<TMATModelessInterstitialController> initWithDelegate(const Ref<TMATBaseAdControllerDelegate>& delegate,
                                                             const Ref<UIView>& containerView);

    // The ad is on screen now: true when accepted (see the header's opening
    // lines); each refusal is logged, and an expired ad also tells the
    // delegate adHasExpired.
    bool onPresented();
    // The ad is hidden again; refused (logged) when it was not presented.
    void onHidden();
    bool meetsMinimumSideLengthRequirement();
    bool meetsMinimumScreenPercentage();
    // Counts a shortfall; never refuses.
    bool meetsRatioCriteria();

    // ---- TMATBaseAdController ----
    int adType() override { return 1; }
    bool handlesAdCreativeType(int creativeType) override { return creativeType == 3; }
    bool isControllerReadyToLoadAd() override { return true; }
    // Clears the flags and counts (kept for the next load's report) and
    // takes the old container out of the container view.
    void resetProperties() override;
    // Reports the previous ad's counts to its pixel, then counts the attempt.
    void recordMetricsOnLoadAttempt() override;
    void submitMetricsOnSuccess() override;
    void submitMetricsOnFailure() override;
    // Makes the bridges (MRAID placement interstitial) and a container of the
    // container view's bounds, which prerenders the creative with the slot id.
    void modelLoadedSuccessfully(Ref<TMAJSBridgesEnabled> bridgesEnabled) override;

    // ---- TMATInterstitialAdContainerDelegate ----
    // Renders at once.
    void interstitialDidPrerender() override;
    void interstitialDidFailToPrerenderWithError(Ref<NSError> error) override;
    // Puts the container into the container view and reports the load; a
    // container view that is gone fails the render.
    void interstitialDidRender() override;
    void interstitialDidFailToRenderWithError(Ref<NSError> error) override;
    void interstitialDidClickOnPrivateURL(const std::string& url) override;

    // ---- state ----
    bool prerendered() const override { return prerendered_; }
    bool isDisplayed() const override { return isDisplayed_.load(); }
    bool isImpressionPixelFired() const { return isImpressionPixelFired_; }
    Ref<UIView> containerView() const { return containerView_.lock(); }
    int numberOfAppearances() const { return numberOfAppearances_.load(); }
    int failedAttemptsToPresent() const { return failedAttemptsToPresent_.load(); }
    int aspectRatioFailures() const { return aspectRatioFailures_.load(); }
    // The ad container when it is an interstitial container.
    Ref<TMATInterstitialAdContainer> interstitialAdContainer() const;
    Ref<UIScreen> mainScreen();
    // Read from the container view's bounds (0 without one).
    float containerWidth() const;
    float containerHeight() const;

private:
    void failRender(const std::string& message);

    bool prerendered_ = false;
    std::atomic<bool> isDisplayed_{false};
    bool isImpressionPixelFired_ = false;
    Weak<UIView> containerView_;
    std::atomic<int> numberOfAppearances_{0};
    std::atomic<int> failedAttemptsToPresent_{0};
    std::atomic<int> aspectRatioFailures_{0};
    // The counts of the ad a load replaces, reported by that load.
    int previousAppearances_ = 0;
    int previousFailedAttempts_ = 0;
    int previousAspectRatioFailures_ = 0;
    Ref<UIScreen> mainScreen_;
};

// The presenter of interstitials not shown by a view controller (every
// presentation mode but 1): a view added straight onto the window that dims
// what lies beneath, holds an interstitial-size HLHtmlAdView and a close
// button on top. It attaches itself only once the ad's page has finished
// loading, fades in (slots 59 to 61), reveals the close button after the
// ad's close delay (a step that holds the dialog weakly), reports displayed, clicked and hidden through its
// wrapper's (the HLInterstitialAd's) display delegate, and leaves the window
// on close, on click (unless slot 115 is on) or when asked. Frames or visual
// formats from the settings table (slot 126) lay it out.
//
// A dialog shows one ad: its ad view is released at the first dismissal,
// which reports hidden once (when displayed was reported); a later
// dismissal only logs, and the ad view's later reports (a second click or
// "/close_ad" already on its way) are not passed on. Main thread; the
// removal from the window and the application's callbacks run on the main
// queue.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "halcyon/core/HLAdDisplayProtocols.h"
#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/display/HLAdVideoPlaybackDelegate.h"
#include "halcyon/display/HLCloseButton.h"
#include "halcyon/display/HLHtmlAdView.h"
#include "halcyon/display/HLInterstitialProtocols.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIWindow.h"

class HLAd;
class HLInterstitialAd;
class HLLogManager;
class HLSdk;

class HLInterstitialDialogView : public UIView,
                                 public HLAdDisplayDelegate,
                                 public HLAdLoadDelegate,
                                 public HLAdVideoPlaybackDelegate,
                                 public HLInterstitialControlProxy {
public:
    static Ref<HLInterstitialDialogView> alloc() { return std::make_shared<HLInterstitialDialogView>(); }
    ~HLInterstitialDialogView() override;

    Ref<HLInterstitialDialogView> initWithFrame(CGRect frame, const Ref<HLSdk>& sdk);
    // Of the shared SDK.
    Ref<UIView> initWithFrame(CGRect frame) override;
    // The main screen's application frame.
    Ref<HLInterstitialDialogView> initInterstitialAdWithSdk(const Ref<HLSdk>& sdk);
    // Only the SDK is used.
    Ref<NSObject> initWithSdk(const Ref<HLSdk>& sdk, const Ref<HLAd>& currentAd,
                              const std::optional<std::string>& currentPlacement,
                              const Ref<HLInterstitialAd>& wrapper) override;

    // One dialog over the shared SDK, made once.
    static Ref<HLInterstitialDialogView> shared();
    // Loads the next ad into the shared dialog and shows it over the window;
    // refused (a warning) while the shared dialog is showing.
    static Ref<HLInterstitialDialogView> showOver(const Ref<UIWindow>& window);

    void showOver(const Ref<UIWindow>& window, bool andLoadNextAd);
    // Renders the ad (attaching once its page has loaded).
    void showOver(const Ref<UIWindow>& window, const std::optional<std::string>& placement, const Ref<HLAd>& ad);
    Ref<HLInterstitialDialogView> prepareViewAndRender(const Ref<HLAd>& ad,
                                                       const std::optional<std::string>& placement);
    void attachTo(const Ref<UIWindow>& window);
    void attachToWindow(const Ref<UIWindow>& window);

    void dismiss();
    // Dismisses, then runs the completion at once (before the queued removal).
    void dismissWithCompletionHandler(Block completion) override;

    void createCloseButton(uint32_t style);
    // (m, m) on the left (slot 82), (W − s, m) on the right; s × s.
    CGRect closeButtonFrame() const;
    void showCloseButton();
    // Rotation by the status bar orientation (slot 110).
    void updateTransform();
    void deviceOrientationDidChange(const NSNotification& notification);

    // ---- the ad view's reports
    void adServiceDidLoadAd(const Ref<HLAdService>& service, const Ref<HLAd>& ad) override;
    void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>& service, int32_t code) override;
    void adWasDisplayedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override;
    void adWasClickedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override;
    void adWasHiddenIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override;
    void videoPlaybackBeganInAd(const Ref<HLAd>&) override {}
    void videoPlaybackEndedInAd(const Ref<HLAd>&, const Value&, bool) override {}

    // ---- presenter protocols
    PLATFORM_RESPONDS_TO("dismissesOnClick", "setDismissesOnClick:", "currentFrame", "setCurrentFrame:", "isAdHidden",
                         "setAdHidden:", "adLoadDelegate", "setAdLoadDelegate:")
    Ref<HLAd> currentAd() const override { return currentAd_; }
    Ref<UIView> containingView() override { return self<UIView>(); }
    // With frame layout, the dialog's and the ad view's frame; else nothing.
    CGRect currentFrame() const override { return frame(); }
    void setCurrentFrame(CGRect frame) override;
    bool isAdHidden() const override { return isHidden(); }
    void setAdHidden(bool hidden) override { setHidden(hidden); }
    bool dismissesOnClick() const override { return dismissesOnClick_; }
    void setDismissesOnClick(bool dismisses) override { dismissesOnClick_ = dismisses; }
    // Stored only.
    Ref<HLAdDisplayDelegate> adDisplayDelegate() const override { return adDisplayDelegate_.lock(); }
    void setAdDisplayDelegate(const Ref<HLAdDisplayDelegate>& d) override { adDisplayDelegate_ = d; }
    Ref<HLAdVideoPlaybackDelegate> adVideoPlaybackDelegate() const override { return adVideoPlaybackDelegate_.lock(); }
    void setAdVideoPlaybackDelegate(const Ref<HLAdVideoPlaybackDelegate>& d) override { adVideoPlaybackDelegate_ = d; }
    Ref<HLAdLoadDelegate> adLoadDelegate() const override { return adLoadDelegate_.lock(); }
    void setAdLoadDelegate(const Ref<HLAdLoadDelegate>& d) override { adLoadDelegate_ = d; }

    Ref<HLSdk> sdk() const { return sdk_; }
    Ref<HLHtmlAdView> adView() const { return adView_; }
    Ref<HLCloseButton> closeButton() const { return closeButton_; }
    Ref<HLInterstitialAd> wrapper() const { return wrapper_.lock(); }
    void setWrapper(const Ref<HLInterstitialAd>& wrapper) { wrapper_ = wrapper; }
    Ref<UIWindow> currentWindow() const { return currentWindow_; }
    const std::vector<Ref<NSLayoutConstraint>>& windowConstraints() const { return windowConstraints_; }

private:
    void closeButtonTapped(Ref<UIGestureRecognizer> recognizer);
    Ref<HLAdDisplayDelegate> wrapperDisplayDelegate() const;
    Ref<HLAdLoadDelegate> wrapperLoadDelegate() const;
    // The window constraints of slot 127 or 128 ("{statusBarHeight}" filled
    // in the vertical one); the slot's default when the format does not parse.
    std::vector<Ref<NSLayoutConstraint>> windowConstraintsForSlot(int64_t slot);
    double closeDelay() const;
    void reportDisplayed();

    bool dismissesOnClick_ = true;
    bool dismissed_ = false;
    bool displayed_ = false;
    Ref<HLSdk> sdk_;
    Ref<HLLogManager> logger_;
    Ref<HLHtmlAdView> adView_;
    Ref<HLCloseButton> closeButton_;
    Weak<HLInterstitialAd> wrapper_;
    Ref<UIWindow> currentWindow_;
    Ref<HLAd> currentAd_;
    Weak<HLAdDisplayDelegate> adDisplayDelegate_;
    Weak<HLAdLoadDelegate> adLoadDelegate_;
    Weak<HLAdVideoPlaybackDelegate> adVideoPlaybackDelegate_;
    std::vector<Ref<NSLayoutConstraint>> windowConstraints_;
};

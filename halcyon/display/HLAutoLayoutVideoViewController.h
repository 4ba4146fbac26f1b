// The full-screen video ad controller laid out with Auto Layout (see
// HLVideoViewController for the behaviour both controllers share). Every
// control is built up front, hidden, and placed by visual formats from the
// settings table (slots 135–146; a format that does not parse falls back to
// the slot's default) and the ad's own video button formats (7.105's
// defaults when they do not parse). With slot 81 = e ≥ 1 a touch on the
// root view within the close (or skip) button's frame grown by e points to
// the left and upward acts on the button as the touch begins. The poststitial
// fades in (slot 147), the mute image cross-dissolves (slot 148), and the
// completion postback goes through the persisted postback queue. Main thread.
#pragma once

#include "halcyon/display/HLVideoViewController.h"
#include "platform/ui/UITouch.h"

class HLAutoLayoutVideoViewController : public HLVideoViewController, public UIGestureRecognizerDelegate {
public:
    void viewWillAppear(bool animated) override;

    // Builds, adds and constrains every control.
    void prepareInterface();
    // The player's start, videoPlaybackBeganInAd, then the player observed.
    void playVideo();
    void prepareCountdownClock();
    void prepareAdditionalTouchArea();
    bool gestureRecognizerShouldReceiveTouch(const Ref<UIGestureRecognizer>& recognizer,
                                             const Ref<UITouch>& touch) override;
    void handleExtendedCloseAreaTouch(const Ref<UITouch>& touch);
    // Not hidden and alpha above 0.5.
    static bool isViewVisible(const Ref<UIView>& view);

    // The ad's countdown length when at least 1; else, with slot 92, the
    // video's duration; else 0.
    Value countdownTime() override;
    Ref<UIGestureRecognizer> closeRecognizer() const { return closeRecognizer_; }

protected:
    const char* logSource() const override { return "HLAutoLayoutVideoViewController"; }
    void* observationContext() const override;
    bool stopsEveryAdOnDismissal() const override { return false; }
    void sendCompletionPostback(const Ref<NSURL>& url) override;
    void presentPoststitial() override;
    void removePoststitial() override;
    double countdownTapToFadeDuration() const override { return standardAnimationTime(); }
    void changeMuteImage(const Ref<UIImage>& image) override;
    void animateVideoButtonIn(const Ref<HLWebViewButton>& button) override { button->setAlpha(1); }

private:
    // The video button's format, or 7.105's default one when it does not parse.
    std::vector<Ref<NSLayoutConstraint>> videoButtonConstraints(const std::string& format, const char* key);

    Ref<UIGestureRecognizer> closeRecognizer_;
};

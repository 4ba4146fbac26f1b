// The full-screen video ad controller laid out with computed frames (see
// HLVideoViewController for the behaviour both controllers share). Controls
// are built as the presentation needs them and placed from size, margin and
// side settings (slots 83–106), moved below a visible status bar (slot 70),
// and every frame is recomputed on each size change and, with slot 133, on
// each device rotation. It shows the countdown clock only with slot 97, adds
// the poststitial when it is shown and removes it when playback resumes,
// and sends the completion postback once through the postback service (not
// stored). Main thread.
#pragma once

#include <cstdint>

#include "halcyon/display/HLVideoViewController.h"
#include "platform/ui/UIColor.h"

class HLFrameVideoViewController : public HLVideoViewController {
public:
    void viewWillAppear(bool animated) override;

    // ---- geometry (points)
    // The root view's bounds on systems up to 7.3 in landscape, else its frame.
    CGRect appropriateFrame();
    // A visible status bar's bottom edge (system 8.0 and later, slot 70), else 0.
    uint64_t calculateStatusBarOffset();
    // Side s = slot 87, margin m = slot 88: (m, m + offset) on the left; on
    // the right the margin does not apply to the edge.
    CGRect frameForButtonOnLeft(bool left);
    CGRect frameForCloseButton();
    CGRect frameForSkipButton();
    CGRect frameForCountdownClock();
    CGRect frameForMuteButton();
    // From the ad's button properties: size in percent of the root view (its
    // sides swapped outside portrait), placed by the gravity bits (x: 2
    // centre, 4 left, 8 right; y: 16 centre, 64 bottom, 32 top), 0 and an
    // error line for an axis without a bit.
    CGRect frameForVideoButton();
    void updateAllFramesForSize(CGSize size);

    // ---- controls
    Ref<HLCircularCountdownView> createCountdownClockWithTimeLeft(const Value& timeLeft);
    Ref<HLCircularCountdownView> createCountdownClockAtCurrentTime();
    void attachSkipButton();
    void attachMuteButton();
    void attachAdditionalTouchAreas();
    void attachTimers(const Ref<AVPlayer>& player);

    // The ad's countdown length present and at least 1: the video's duration
    // with slot 92, else that length; otherwise 0.
    Value countdownTime() override;
    Ref<UIColor> countdownColor() const { return countdownColor_; }

    // ---- orientation
    bool shouldAutorotate() override;
    bool shouldAutorotateToInterfaceOrientation(UIInterfaceOrientation orientation) override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() override;
    void viewWillTransitionToSize(CGSize size, const Ref<UIViewControllerTransitionCoordinator>& coordinator) override;
    void didRotateFromInterfaceOrientation(UIInterfaceOrientation old) override;
    void deviceOrientationDidChange(const NSNotification& notification);

protected:
    const char* logSource() const override { return "HLFrameVideoViewController"; }
    void* observationContext() const override;
    bool stopsEveryAdOnDismissal() const override { return true; }
    void sendCompletionPostback(const Ref<NSURL>& url) override;
    void presentPoststitial() override;
    void removePoststitial() override;
    double countdownTapToFadeDuration() const override { return 0.75; }
    void changeMuteImage(const Ref<UIImage>& image) override;
    void animateVideoButtonIn(const Ref<HLWebViewButton>& button) override;
    void removeObservers() override;

private:
    int64_t integerSetting(int64_t slot) const;

    Ref<UIColor> countdownColor_;
    bool generatesOrientation_ = false;  // began device-orientation notifications
};

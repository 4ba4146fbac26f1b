// The full-screen view controller of a modal template interstitial: a white
// view holding the interstitial container, which fills it and reports to the
// controller given at creation. The status bar is hidden while it shows.
// Whoever dismisses it, it tells the dismissal handler (on a later main-queue
// turn) and lets go of its container once the dismissal has ended. Main
// thread.
#pragma once

#include "platform/ui/UIViewController.h"
#include "tamarind/TMATInterstitialAdContainer.h"

class TMATInterstitialAdViewController : public UIViewController {
public:
    static Ref<TMATInterstitialAdViewController> alloc() {
        return std::make_shared<TMATInterstitialAdViewController>();
    }
    // Makes the container (the view's bounds, flexible width and height) with
    // the delegate and puts it into the view.
    Ref<TMATInterstitialAdViewController> initWithDelegate(const Ref<TMATInterstitialAdContainerDelegate>& delegate);

    // White background; accessibility identifier "adContainerObject".
    void viewDidLoad() override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    bool prefersStatusBarHidden() override { return true; }
    UIStatusBarStyle preferredStatusBarStyle() override { return UIStatusBarStyleDefault; }

    Ref<TMATInterstitialAdContainer> interstitialAdContainer() const { return interstitialAdContainer_; }
    void setInterstitialAdContainer(const Ref<TMATInterstitialAdContainer>& container) {
        interstitialAdContainer_ = container;
    }
    // Takes the container out of the view and lets it go.
    void releaseInterstitialAdContainer();
    // Run once, at the next dismissal of this screen; null clears it.
    void setDismissalHandler(Block handler) { dismissalHandler_ = std::move(handler); }

private:
    Ref<TMATInterstitialAdContainer> interstitialAdContainer_;
    Block dismissalHandler_;
    bool dismissing_ = false;
};

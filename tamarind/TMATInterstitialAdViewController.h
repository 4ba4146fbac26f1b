// The full-screen view controller of a modal template interstitial: a white
// view holding the interstitial container, which fills it and reports to the
// controller given at creation. The status bar is hidden while it shows.
// Main thread.
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
    bool prefersStatusBarHidden() override { return true; }
    UIStatusBarStyle preferredStatusBarStyle() override { return UIStatusBarStyleDefault; }

    Ref<TMATInterstitialAdContainer> interstitialAdContainer() const { return interstitialAdContainer_; }
    void setInterstitialAdContainer(const Ref<TMATInterstitialAdContainer>& container) {
        interstitialAdContainer_ = container;
    }

private:
    Ref<TMATInterstitialAdContainer> interstitialAdContainer_;
};

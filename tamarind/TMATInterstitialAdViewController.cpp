#include "tamarind/TMATInterstitialAdViewController.h"

Ref<TMATInterstitialAdViewController> TMATInterstitialAdViewController::initWithDelegate(
    const Ref<TMATInterstitialAdContainerDelegate>& delegate) {
    UIViewController::init();
    auto own = view();
    interstitialAdContainer_ = TMATBaseAdContainer::containerWithFrame<TMATInterstitialAdContainer>(own->bounds());
    interstitialAdContainer_->setDelegate(delegate);
    interstitialAdContainer_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    own->addSubview(interstitialAdContainer_);
    return self<TMATInterstitialAdViewController>();
}

void TMATInterstitialAdViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    view()->setBackgroundColor(UIColor::whiteColor());
    view()->setAccessibilityIdentifier("adContainerObject");
}

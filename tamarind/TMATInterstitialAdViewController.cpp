#include "tamarind/TMATInterstitialAdViewController.h"

#include <utility>

#include "platform/runtime/DispatchQueue.h"

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

void TMATInterstitialAdViewController::viewWillDisappear(bool animated) {
    UIViewController::viewWillDisappear(animated);
    if (!isBeingDismissed()) return;
    dismissing_ = true;
    // Later: the dismissal that is under way must end before anyone reacts to it.
    if (auto handler = std::exchange(dismissalHandler_, nullptr)) dispatch_async(dispatch_get_main_queue(), handler);
}

void TMATInterstitialAdViewController::viewDidDisappear(bool animated) {
    UIViewController::viewDidDisappear(animated);
    if (std::exchange(dismissing_, false)) releaseInterstitialAdContainer();
}

void TMATInterstitialAdViewController::releaseInterstitialAdContainer() {
    if (interstitialAdContainer_) interstitialAdContainer_->removeFromSuperview();
    interstitialAdContainer_.reset();
}

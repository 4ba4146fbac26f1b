#include "tamarind/TMAViewabilityCalculation.h"

Ref<TMAViewabilityCalculation> TMAViewabilityCalculation::initWithAdView(const Ref<UIView>& adView) {
    return initWithAdView(adView, UIApplication::sharedApplication());
}

Ref<TMAViewabilityCalculation> TMAViewabilityCalculation::initWithAdView(const Ref<UIView>& adView,
                                                                         const Ref<UIApplication>& application) {
    adView_ = adView;
    application_ = application;
    setAppDismissed(false);
    return self<TMAViewabilityCalculation>();
}

void TMAViewabilityCalculation::reportViewability(float percentage, CGRect adFrame) {
    if (auto delegate = delegate_.lock()) delegate->viewabilityOfAdView(percentage, adFrame);
}

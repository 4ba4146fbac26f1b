#include "tamarind/TMATViewabilityCalculation.h"

#include "tamarind/TMATBaseAdContainer.h"

Ref<TMATViewabilityCalculation> TMATViewabilityCalculation::initWithAdContainer(
    const Ref<TMATBaseAdContainer>& container) {
    adContainer_ = container;
    setAppDismissed(false);
    return self<TMATViewabilityCalculation>();
}

Ref<UIApplication> TMATViewabilityCalculation::application() {
    auto application = application_.lock();
    if (!application) {
        application = UIApplication::sharedApplication();
        application_ = application;
    }
    return application;
}

Ref<UIView> TMATViewabilityCalculation::measuredView() const { return adContainer_.lock(); }

void TMATViewabilityCalculation::reportViewability(float percentage, CGRect adFrame) {
    if (auto delegate = delegate_.lock()) delegate->viewabilityOfAdView(percentage, adFrame);
}

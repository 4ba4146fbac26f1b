// The template renderer's viewability calculator: measures its ad container
// (held weakly) in the shared application and reports to the container.
// Main thread.
#pragma once

#include "tamarind/TMAViewabilityCalculator.h"

class TMATBaseAdContainer;

// What a measurement reports: on the main thread, at each timer firing (and
// once at the application's resignation), never inside the call that started
// the calculator.
class TMATViewabilityCalculationDelegate : public virtual NSObjectProtocol {
public:
    // Percentage 0–100; the ad's frame in the key window.
    virtual void viewabilityOfAdView(float percentage, CGRect adFrame) = 0;
};

class TMATViewabilityCalculation : public TMAViewabilityCalculator {
public:
    Ref<TMATViewabilityCalculation> initWithAdContainer(const Ref<TMATBaseAdContainer>& container);

    Ref<TMATBaseAdContainer> adContainer() const { return adContainer_.lock(); }
    Ref<TMATViewabilityCalculationDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<TMATViewabilityCalculationDelegate>& delegate) { delegate_ = delegate; }
    // Looked up on first use (the shared application).
    Ref<UIApplication> application();

protected:
    Ref<UIView> measuredView() const override;
    Ref<UIApplication> measuringApplication() override { return application(); }
    void reportViewability(float percentage, CGRect adFrame) override;

private:
    Weak<TMATBaseAdContainer> adContainer_;
    Weak<TMATViewabilityCalculationDelegate> delegate_;
    Weak<UIApplication> application_;
};

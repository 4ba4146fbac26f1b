// The viewability calculator of the older ad views: the same measurement as
// the template renderer's, of an ad view given at creation (held weakly), in
// the application given then. Main thread.
#pragma once

#include "tamarind/TMAViewabilityCalculator.h"

// What a measurement reports: on the main thread, at each timer firing (and
// once at the application's resignation).
class TMAViewabilityCalculationDelegate : public virtual NSObjectProtocol {
public:
    // Percentage 0–100; the ad's frame in the key window.
    virtual void viewabilityOfAdView(float percentage, CGRect adFrame) = 0;
};

class TMAViewabilityCalculation : public TMAViewabilityCalculator {
public:
    // In the shared application.
    Ref<TMAViewabilityCalculation> initWithAdView(const Ref<UIView>& adView);
    Ref<TMAViewabilityCalculation> initWithAdView(const Ref<UIView>& adView, const Ref<UIApplication>& application);

    Ref<UIView> adView() const { return adView_.lock(); }
    Ref<UIApplication> application() const { return application_; }
    Ref<TMAViewabilityCalculationDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<TMAViewabilityCalculationDelegate>& delegate) { delegate_ = delegate; }

protected:
    Ref<UIView> measuredView() const override { return adView_.lock(); }
    Ref<UIApplication> measuringApplication() override { return application_; }
    void reportViewability(float percentage, CGRect adFrame) override;

private:
    Weak<UIView> adView_;
    Ref<UIApplication> application_;
    Weak<TMAViewabilityCalculationDelegate> delegate_;
};

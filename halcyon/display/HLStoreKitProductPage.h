// The in-app store page of an ad click: the platform's store product sheet
// carrying the ad, the ad view and the video controller that led to it (the
// core's HLStoreKitProductViewController), so that the ad service can resume
// the interstitial when the page closes. It closes once: when the user
// closes it, or by itself when its product does not load (the load state
// then expires and the interstitial resumes as after a user's close).
// Created by the ad service through HLDisplayHooks. Main thread.
#pragma once

#include "halcyon/core/HLStoreKitProductViewController.h"
#include "platform/store/SKStoreProductViewController.h"

class HLStoreKitProductPage : public SKStoreProductViewController,
                              public HLStoreKitProductViewController,
                              public SKStoreProductViewControllerDelegate {
public:
    static Ref<HLStoreKitProductPage> alloc() { return std::make_shared<HLStoreKitProductPage>(); }
    // Its own sheet delegate.
    Ref<HLStoreKitProductPage> initWithAd(const Ref<HLAd>& ad, const Ref<HLAdViewInternalProtocol>& adView,
                                          const Ref<UIViewController>& interstitialViewController);

    Ref<UIViewController> viewController() override { return self<UIViewController>(); }
    void setStoreViewControllerDelegate(const Ref<HLStoreKitProductViewControllerDelegate>& delegate) override {
        storeViewControllerDelegate_ = delegate;
    }
    Ref<HLStoreKitProductViewControllerDelegate> storeViewControllerDelegate() const {
        return storeViewControllerDelegate_.lock();
    }
    // The sheet's load; a failed one closes the page after the completion ran.
    void loadProductWithParameters(const Value& parameters,
                                   HLStoreKitProductViewController::LoadCompletion completion) override;
    Ref<HLAd> ad() const override { return ad_; }
    Ref<HLAdViewInternalProtocol> adView() const override { return adView_; }
    Ref<UIViewController> interstitialViewController() const override { return interstitialViewController_; }

    // The user closed the sheet: the delegate hears it, once.
    void productViewControllerDidFinish(Ref<SKStoreProductViewController> sheet) override;

    // Never on systems up to "7.3"; else when the sheet and the application
    // share an orientation for the key window.
    bool shouldAutorotate() override;
    bool prefersStatusBarHidden() override { return true; }

private:
    Weak<HLStoreKitProductViewControllerDelegate> storeViewControllerDelegate_;
    Ref<HLAd> ad_;
    Ref<HLAdViewInternalProtocol> adView_;
    Ref<UIViewController> interstitialViewController_;
    bool finished_ = false;
};

#include "halcyon/display/HLStoreKitProductPage.h"

#include "halcyon/core/HLSystemVersioning.h"
#include "platform/ui/UIApplication.h"

Ref<HLStoreKitProductPage> HLStoreKitProductPage::initWithAd(const Ref<HLAd>& ad,
                                                             const Ref<HLAdViewInternalProtocol>& adView,
                                                             const Ref<UIViewController>& interstitialViewController) {
    SKStoreProductViewController::init();
    setDelegate(self<HLStoreKitProductPage>());
    ad_ = ad;
    adView_ = adView;
    interstitialViewController_ = interstitialViewController;
    return self<HLStoreKitProductPage>();
}

void HLStoreKitProductPage::loadProductWithParameters(const Value& parameters,
                                                      HLStoreKitProductViewController::LoadCompletion completion) {
    Weak<HLStoreKitProductPage> weak = self<HLStoreKitProductPage>();
    SKStoreProductViewController::loadProductWithParameters(parameters,
                                                            [weak, completion](bool result, Ref<NSError> error) {
                                                                if (completion) completion(result, error);
                                                                // A page without a product would stay empty: it closes
                                                                // as a user's close does.
                                                                if (auto page = weak.lock(); page && !result)
                                                                    page->productViewControllerDidFinish(page);
                                                            });
}

void HLStoreKitProductPage::productViewControllerDidFinish(Ref<SKStoreProductViewController>) {
    if (finished_) return;
    finished_ = true;
    if (Ref<HLStoreKitProductViewControllerDelegate> delegate = storeViewControllerDelegate())
        delegate->productViewControllerDidFinish(self<HLStoreKitProductPage>(), ad_, adView_,
                                                 interstitialViewController_);
}

bool HLStoreKitProductPage::shouldAutorotate() {
    if (HLSystemVersioning::currentDeviceVersionIsAtMaximum("7.3")) return false;
    Ref<UIApplication> application = UIApplication::sharedApplication();
    return (supportedInterfaceOrientations() &
            application->supportedInterfaceOrientationsForWindow(application->keyWindow())) != 0;
}

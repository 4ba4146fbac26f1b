#include "Trillium/display/TrilliumDisplayClasses.h"

#include "Trillium/TRADisplayHooks.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/TrilliumClasses.h"
#include "Trillium/display/TRAAdVideoViewController.h"
#include "Trillium/display/TRAAdViewController.h"
#include "Trillium/display/TRAEventAdManager.h"
#include "Trillium/display/TRAFullScreenAd.h"
#include "Trillium/display/TRAInAppBrowserViewController.h"
#include "Trillium/display/TRALifecycleAdRequests.h"
#include "Trillium/display/TRASKStoreProductViewController.h"
#include "Trillium/display/TRASmartRedirectWebView.h"
#include "Trillium/display/TRASplashPreferences.h"
#include "Trillium/display/TRASplashScreenHtml.h"
#include "Trillium/display/TRASplashView.h"
#include "Trillium/display/TRASplashViewController.h"
#include "Trillium/display/TRATrilliumAdBasic.h"
#include "Trillium/display/TRAVideoDownloader.h"
#include "Trillium/display/TRAVideosManager.h"
#include "Trillium/display/TrilliumBannerNativeClasses.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/store/StoreClasses.h"

void registerTrilliumDisplayClasses() {
    registerTrilliumClasses();
    // The store sheet the follower and the browser look up by name.
    platform::registerStoreClasses();
    NSClassRegistry::registerClass<TRAEventAdManager>();
    NSClassRegistry::registerClass<TRAFirstDownloadRequest>();
    NSClassRegistry::registerClass<TRAReturnAdRequest>();
    NSClassRegistry::registerClass<TRASplashAdRequest>();
    NSClassRegistry::registerClass<TRAFullScreenAd>();
    NSClassRegistry::registerClass<TRATrilliumAdBasic>();
    NSClassRegistry::registerClass<TRASKStoreProductViewController>();
    NSClassRegistry::registerClass<TRASplashPreferences>();
    NSClassRegistry::registerClass<TRASplashScreenHtml>();
    NSClassRegistry::registerClass<TRASplashView>();
    NSClassRegistry::registerClass<TRASplashViewController>();
    NSClassRegistry::registerClass<TRAVideoDownloader>();
    NSClassRegistry::registerClass<TRAAdViewController>();
    NSClassRegistry::registerClass<TRAAdVideoViewController>();
    NSClassRegistry::registerClass<TRAInAppBrowserViewController>();
    NSClassRegistry::registerClass<TRASmartRedirectWebView>();
    registerTrilliumBannerNativeClasses();

    auto& hooks = TRADisplayHooks::shared();
    hooks.eventAdManager = []() -> Ref<TRAEventAdManaging> { return TRAEventAdManager::sharedInstance(); };
    hooks.fullScreenAd = [](int64_t adType, int64_t eventType) -> Ref<TRAHtmlAd> {
        return NSObject::alloc<TRAFullScreenAd>()->initWithAdType(adType, eventType);
    };
    hooks.videoStore = []() -> Ref<TRAVideoStore> { return TRAVideosManager::sharedInstance(); };
    hooks.adScreen = [](bool video) -> Ref<TRAAdScreen> {
        if (video) return TRAAdVideoViewController::alloc()->init();
        return TRAAdViewController::alloc()->init();
    };
    hooks.inAppBrowser = [](const std::string& url, const Ref<TRASmartRedirectWebViewDelegate>& storeDelegate)
        -> Ref<UIViewController> { return TRAInAppBrowserViewController::alloc()->initWithURL(url, storeDelegate); };
    // An entry point made before this registration brings the manager into
    // being now, in time for the launch notification.
    if (TRATrilliumSDK::hasSharedInstance()) TRAEventAdManager::sharedInstance();
}

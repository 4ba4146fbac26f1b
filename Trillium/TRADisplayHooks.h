// Where the display side of the client (lifecycle manager, full-screen ad
// objects and screens, video store, in-app browser) plugs into the core. The
// display library fills these slots when it registers its classes, before the
// entry point is first used; while a slot is empty the core does what a
// message to nil would do and logs it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Trillium/TRAAdScreen.h"
#include "Trillium/TRAEventAdManaging.h"
#include "Trillium/TRASmartRedirectWebViewDelegate.h"
#include "Trillium/TRAVideoStore.h"
#include "platform/runtime/NSObject.h"

class TRAHtmlAd;

namespace platform {
class UIViewController;
}

struct TRADisplayHooks {
    // +[TRAEventAdManager sharedInstance]: called by the entry point's init.
    std::function<Ref<TRAEventAdManaging>()> eventAdManager;
    // -[[TRAFullScreenAd alloc] initWithAdType:eventType:]: the ad object the
    // cache loads for a full-screen ad of internal type 1 or 5.
    std::function<Ref<TRAHtmlAd>(int64_t adType, int64_t eventType)> fullScreenAd;
    // [[TRAAdViewController alloc] init] (video: TRAAdVideoViewController).
    std::function<Ref<TRAAdScreen>(bool video)> adScreen;
    // +[TRAVideosManager sharedInstance].
    std::function<Ref<TRAVideoStore>()> videoStore;
    // [[TRAInAppBrowserViewController alloc] initWithURL:withInAppStoreDelegate:].
    std::function<Ref<platform::UIViewController>(const std::string& url,
                                                  const Ref<TRASmartRedirectWebViewDelegate>& storeDelegate)>
        inAppBrowser;

    // The process's slots (main thread).
    static TRADisplayHooks& shared();
};

// Where a URL that a template creative opens goes: an intent URL is unpacked
// into its targets (tried in order, counted "il", "fil" or "nil"), a private
// URL goes back to the ad controller, a store link opens the store sheet (the
// system when the sheet cannot load), a web link opens in an in-app browser
// (the client's own below system version 9.0, the system browser sheet from
// 9.0) or, when asked, in the system browser; anything else goes to the
// system. Each routing answers whether it showed or opened something, so an
// intent's next target is tried otherwise. It is the delegate of every sheet
// it shows and dismisses a sheet when the user closes it, only that sheet and
// only once, so the ad screen under it stays. Main thread; presenting and
// dismissing happen on a later turn of the main queue.
#pragma once

#include "platform/foundation/NSURL.h"
#include "platform/store/SFSafariViewController.h"
#include "platform/store/SKStoreProductViewController.h"
#include "platform/ui/UIApplication.h"
#include "tamarind/TMALinkUtility.h"
#include "tamarind/TMAdConfiguration.h"
#include "tamarind/TMMPAdBrowserController.h"

class TMATBaseAdController;

// Main thread.
class TMATBrowsingControllerDelegate : public virtual NSObjectProtocol {
public:
    virtual void openPrivateUrl(Ref<NSURL> url) = 0;
};

class TMATBrowsingController : public NSObject,
                               public SKStoreProductViewControllerDelegate,
                               public SFSafariViewControllerDelegate,
                               public TMMPAdBrowserControllerDelegate {
public:
    // The ad controller is held weakly.
    Ref<TMATBrowsingController> initWithAdController(const Ref<TMATBaseAdController>& adController);
    ~TMATBrowsingController() override;

    // False when nothing was shown or opened (a null URL goes nowhere).
    bool openBrowserWithUrl(const Ref<NSURL>& url, bool useExternalBrowser);
    bool handleIntentUrl(const Ref<NSURL>& url, bool useExternalBrowser);
    bool attemptLoadingIntent(const std::string& queryPart, bool useExternalBrowser);
    void submitIntentLaunchMetrics(bool fallback);
    bool handleOpenUrl(const Ref<NSURL>& url);
    bool handleAppStoreUrl(const Ref<NSURL>& url);
    // False (logged) for a null controller, no presenter, or a presenter that
    // already presents one.
    bool presentViewController(const Ref<UIViewController>& controller);
    // Dismisses the sheet on a later main-queue turn when it is still
    // presented: a second request for it (a second tap) does nothing.
    void dismissViewControllerAnimated(const Ref<UIViewController>& sheet, bool animated);

    Ref<TMATBrowsingControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<TMATBrowsingControllerDelegate>& delegate) { delegate_ = delegate; }
    Ref<TMATBaseAdController> adController() const { return adController_.lock(); }
    Ref<UIApplication> sharedApplication();
    Ref<TMALinkUtility> sharedLinkUtility();
    Ref<TMAdConfiguration> sharedConfiguration();
    Ref<TMMetricTracker> metricTracker();

    // SKStoreProductViewControllerDelegate
    void productViewControllerDidFinish(Ref<SKStoreProductViewController> sheet) override;
    // SFSafariViewControllerDelegate: the user's "Done".
    void safariViewControllerDidFinish(Ref<SFSafariViewController> sheet) override;
    // TMMPAdBrowserControllerDelegate
    void dismissBrowserController(Ref<TMMPAdBrowserController> browser) override;
    void dismissBrowserControllerAnimated(Ref<TMMPAdBrowserController> browser, bool animated) override;
    void dismissBrowserControllerAnimatedOpenPrivateURL(Ref<TMMPAdBrowserController> browser, bool animated,
                                                        Ref<NSURL> url) override;

private:
    // The ad controller's presenter, when it can present now (logged when not).
    Ref<UIViewController> availablePresenter();

    Weak<TMATBrowsingControllerDelegate> delegate_;
    Weak<TMATBaseAdController> adController_;
    Ref<UIApplication> sharedApplication_;
    Ref<TMALinkUtility> sharedLinkUtility_;
    Ref<TMAdConfiguration> sharedConfiguration_;
};

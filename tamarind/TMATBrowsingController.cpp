#include "tamarind/TMATBrowsingController.h"

#include <utility>

#include "platform/foundation/NSClassRegistry.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Log.h"
#include "platform/ui/UIDevice.h"
#include "tamarind/TMATBaseAdController.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMLog.h"

namespace {
constexpr int kTMATCounterIntentLaunch = 122;     // "il"
constexpr int kTMATCounterIntentFallback = 123;   // "fil"
constexpr int kTMATCounterIntentNone = 124;       // "nil"
}  // namespace

Ref<TMATBrowsingController> TMATBrowsingController::initWithAdController(const Ref<TMATBaseAdController>& adController) {
    adController_ = adController;
    return self<TMATBrowsingController>();
}

TMATBrowsingController::~TMATBrowsingController() { TMLog::logDebug("TMATBrowsingController dealloc"); }

Ref<UIApplication> TMATBrowsingController::sharedApplication() {
    if (!sharedApplication_) sharedApplication_ = UIApplication::sharedApplication();
    return sharedApplication_;
}
Ref<TMALinkUtility> TMATBrowsingController::sharedLinkUtility() {
    if (!sharedLinkUtility_) sharedLinkUtility_ = TMALinkUtility::sharedLinkUtility();
    return sharedLinkUtility_;
}
Ref<TMAdConfiguration> TMATBrowsingController::sharedConfiguration() {
    if (!sharedConfiguration_) sharedConfiguration_ = TMAdConfiguration::sharedAMAdConfiguration();
    return sharedConfiguration_;
}
Ref<TMMetricTracker> TMATBrowsingController::metricTracker() { return sharedConfiguration()->metricTracker(); }

// ---- routing ----------------------------------------------------------------------------------

bool TMATBrowsingController::openBrowserWithUrl(const Ref<NSURL>& url, bool useExternalBrowser) {
    if (!url) {
        TMLog::logWarn("TMATBrowsingController was given no URL; nothing is opened.");
        return false;
    }
    TMLog::logDebug("TMATBrowsingController starting to load request %@", platform::urlForLog(url->absoluteString()));
    int action = sharedLinkUtility()->actionForURL(url);
    if (!(useExternalBrowser && action == TMALinkActionWeb)) {
        switch (action) {
            case TMALinkActionIntent: return handleIntentUrl(url, useExternalBrowser);
            case TMALinkActionPrivate:
                if (auto delegate = delegate_.lock()) {
                    delegate->openPrivateUrl(url);
                    return true;
                }
                return false;
            case TMALinkActionWeb: return handleOpenUrl(url);
            case TMALinkActionStore: return handleAppStoreUrl(url);
            default: break;
        }
    }
    return sharedApplication()->openURL(url);
}

bool TMATBrowsingController::handleIntentUrl(const Ref<NSURL>& url, bool useExternalBrowser) {
    auto controller = adController();
    auto tracker = metricTracker();
    if (controller) tracker->setPixelUrl(controller->instrumentationPixelUrl(), controller);
    std::vector<std::string> parts;
    if (auto query = url->query()) parts = NSString::componentsSeparatedByString(*query, "&");
    for (size_t i = 0; i < parts.size(); ++i) {
        if (attemptLoadingIntent(parts[i], useExternalBrowser)) {
            submitIntentLaunchMetrics(i > 0);
            return true;
        }
    }
    if (controller) {
        tracker->incrementCounter(kTMATCounterIntentNone, controller);
        tracker->submitMetricsForObject(controller);
    }
    return false;
}

bool TMATBrowsingController::attemptLoadingIntent(const std::string& queryPart, bool useExternalBrowser) {
    auto pieces = NSString::componentsSeparatedByString(queryPart, "=");
    if (pieces.size() < 2) {
        TMLog::logWarn("Attempted to parse an intent url, but found a missing key/value pair: %@",
                       platform::shortenedForLog(queryPart));
        return false;
    }
    if (pieces.front() != TMAWire::kIntentKey) return false;
    // Intent values arrive percent-escaped: the last "=" piece is the value.
    auto value = NSString::stringByReplacingPercentEscapesUsingEncoding(pieces.back());
    if (!value || value->empty()) {
        TMLog::logWarn("Attempted to parse an intent url, but its target is empty or badly escaped: %@",
                       platform::shortenedForLog(queryPart));
        return false;
    }
    auto target = NSURL::URLWithString(*value);
    if (!target) {
        TMLog::logWarn("Attempted to parse an intent url, but its target is not a URL: %@",
                       platform::urlForLog(*value));
        return false;
    }
    return openBrowserWithUrl(target, useExternalBrowser);
}

void TMATBrowsingController::submitIntentLaunchMetrics(bool fallback) {
    auto controller = adController();
    if (!controller) return;
    auto tracker = metricTracker();
    tracker->incrementCounter(fallback ? kTMATCounterIntentFallback : kTMATCounterIntentLaunch, controller);
    tracker->submitMetricsForObject(controller);
}

bool TMATBrowsingController::handleOpenUrl(const Ref<NSURL>& url) {
    Ref<UIViewController> browser;
    if (!platform::systemVersionAtLeast(9, 0)) {
        browser = TMMPAdBrowserController::alloc()->initWithURL(url, self<TMATBrowsingController>());
    } else if (auto sheet = SFSafariViewController::alloc()->initWithURL(url)) {
        // The sheet leaves "Done" to its delegate.
        sheet->setDelegate(self<TMATBrowsingController>());
        browser = sheet;
    }
    return presentViewController(browser);
}

bool TMATBrowsingController::handleAppStoreUrl(const Ref<NSURL>& url) {
    auto storeId = sharedLinkUtility()->appStoreIdFromURL(url);
    if (!storeId) return false;
    if (!NSClassFromString("SKStoreProductViewController")) {
        TMLog::logInfo("No store sheet on this system; the store link opens through the system.");
        return sharedApplication()->openURL(url);
    }
    // The sheet shows only once loaded: a presenter that cannot show it now
    // makes the link fail here, so an intent's next target is tried.
    if (!availablePresenter()) return false;
    auto sheet = SKStoreProductViewController::alloc()->init();
    sheet->setDelegate(self<TMATBrowsingController>());
    Weak<TMATBrowsingController> weak = self<TMATBrowsingController>();
    sheet->loadProductWithParameters(
        Value::dictionary({{SKStoreProductParameterItemIdentifier, *storeId}}),
        [weak, sheet, url](bool loaded, Ref<NSError> error) {
            auto browsing = weak.lock();
            if (!browsing) return;
            if (!loaded) {
                TMLog::logInfo("The store sheet failed to load (%@); the store link opens through the system.",
                               error ? error->localizedDescription() : std::string());
                browsing->sharedApplication()->openURL(url);
                return;
            }
            browsing->presentViewController(sheet);
        });
    return true;
}

// ---- presenting -------------------------------------------------------------------------------

Ref<UIViewController> TMATBrowsingController::availablePresenter() {
    auto controller = adController();
    auto presenter = controller ? controller->viewControllerForPresentingModalView() : nullptr;
    if (!presenter) {
        TMLog::logError("No view controller to present from; nothing is shown.");
        return nullptr;
    }
    if (presenter->presentedViewController()) {
        TMLog::logInfo("A view controller is already being presented.");
        return nullptr;
    }
    return presenter;
}

bool TMATBrowsingController::presentViewController(const Ref<UIViewController>& controller) {
    if (!controller) {
        TMLog::logError("View controller for presentation has not been initialized");
        return false;
    }
    auto presenter = availablePresenter();
    if (!presenter) return false;
    dispatch_async(dispatch_get_main_queue(), [presenter, controller] {
        // Checked again: something may have been presented meanwhile.
        if (presenter->presentedViewController()) {
            TMLog::logInfo("A view controller is already being presented.");
            return;
        }
        presenter->presentViewController(controller, true, nullptr);
    });
    return true;
}

void TMATBrowsingController::dismissViewControllerAnimated(const Ref<UIViewController>& sheet, bool animated) {
    if (!sheet) return;
    dispatch_async(dispatch_get_main_queue(), [sheet, animated] {
        // Only the sheet itself: with it gone, its presenter would dismiss
        // the ad's own screen instead.
        auto presenter = sheet->presentingViewController();
        if (!presenter || sheet->isBeingDismissed()) return;
        presenter->dismissViewControllerAnimated(animated, nullptr);
    });
}

void TMATBrowsingController::productViewControllerDidFinish(Ref<SKStoreProductViewController> sheet) {
    if (sheet) sheet->dismissViewControllerAnimated(true, nullptr);
}

void TMATBrowsingController::safariViewControllerDidFinish(Ref<SFSafariViewController> sheet) {
    dismissViewControllerAnimated(sheet, true);
}

void TMATBrowsingController::dismissBrowserController(Ref<TMMPAdBrowserController> browser) {
    dismissBrowserControllerAnimated(std::move(browser), true);
}

void TMATBrowsingController::dismissBrowserControllerAnimated(Ref<TMMPAdBrowserController> browser, bool animated) {
    dismissViewControllerAnimated(browser, animated);
}

void TMATBrowsingController::dismissBrowserControllerAnimatedOpenPrivateURL(Ref<TMMPAdBrowserController> browser,
                                                                           bool animated, Ref<NSURL> url) {
    dismissBrowserControllerAnimated(std::move(browser), animated);
    if (auto delegate = delegate_.lock()) delegate->openPrivateUrl(url);
}

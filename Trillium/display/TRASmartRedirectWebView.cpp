#include "Trillium/display/TRASmartRedirectWebView.h"

#include <cstdlib>

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAAnalytics.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRANetworkData.h"
#include "Trillium/display/TRAAdViewController.h"
#include "Trillium/display/TRASKStoreProductViewController.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSDate.h"
#include "platform/net/NSURLError.h"
#include "platform/runtime/NSThread.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"
#include "platform/web/RepeatedRefusals.h"

namespace {

// The walk in progress.
Ref<TRASmartRedirectWebView>& TRASmartRedirectSlot() {
    // Never destroyed: other threads may use it during exit.
    static Ref<TRASmartRedirectWebView>& walk = *new Ref<TRASmartRedirectWebView>();
    return walk;
}

// The clicks dropped while one is followed, folded: a page may loop on them.
platform::web::RepeatedRefusals& TRASmartRedirectDroppedClicks() {
    static platform::web::RepeatedRefusals& lines = *new platform::web::RepeatedRefusals(TRALog::kFoldedLinePeriod);
    return lines;
}

bool TRASmartRedirectSkipsReport(const Ref<NSError>& error) {
    return error->code() == NSURLErrorNotConnectedToInternet || error->localizedDescription() == "no Internet connection";
}

Ref<NSURL> TRASmartRedirectURL(const std::optional<std::string>& text) {
    return text ? NSURL::URLWithString(*text) : nullptr;
}

}  // namespace

// ---- start ------------------------------------------------------------------------------------------

bool TRASmartRedirectWebView::startSmartRedirect(const NSURLRequest& request, const Ref<UIView>& adView,
                                                 const Ref<TRASmartRedirectWebViewDelegate>& delegate,
                                                 const Ref<TRASmartRedirectWebViewDelegate>& inAppStoreDelegate,
                                                 bool closeViewController, const std::string& dParams,
                                                 bool trilliumBrowserEnabled) {
    if (TRASmartRedirectSlot()) {
        TRALog::infoFolded(TRASmartRedirectDroppedClicks(),
                           "A click is being followed already; this click is dropped.");
        return false;
    }
    auto walk = NSObject::alloc<TRASmartRedirectWebView>();
    TRASmartRedirectSlot() = walk;
    walk->initWithRequest(request, adView, delegate, inAppStoreDelegate, closeViewController, dParams,
                          trilliumBrowserEnabled);
    return true;
}

Ref<TRASmartRedirectWebView> TRASmartRedirectWebView::currentWalk() { return TRASmartRedirectSlot(); }

Ref<TRASmartRedirectWebView> TRASmartRedirectWebView::initWithRequest(
    const NSURLRequest& request, const Ref<UIView>& adView, const Ref<TRASmartRedirectWebViewDelegate>& delegate,
    const Ref<TRASmartRedirectWebViewDelegate>& inAppStoreDelegate, bool closeViewController, const std::string& dParams,
    bool trilliumBrowserEnabled) {
    auto self = this->self<TRASmartRedirectWebView>();
    adView_ = adView;
    delegate_ = delegate;
    inAppStoreDelegate_ = inAppStoreDelegate;
    closeViewController_ = closeViewController;
    dParams_ = dParams;
    trilliumBrowserEnabled_ = trilliumBrowserEnabled;
    finishLoading_ = false;
    timeout_ = static_cast<float>(TRAMetadata::sharedMetadata()->getSmartRedirectTimeout());
    smartWebView_ = std::static_pointer_cast<UIWebView>(
        UIWebView::alloc()->initWithFrame(UIScreen::mainScreen()->applicationFrame()));
    smartWebView_->setHidden(true);
    smartWebView_->setDelegate(self);
    smartWebView_->loadRequest(request);
    createProgressBar();
    startTimeOut();
    return self;
}

TRASmartRedirectWebView::~TRASmartRedirectWebView() {
    if (smartWebView_) smartWebView_->setDelegate(nullptr);
}

void TRASmartRedirectWebView::endWalk() {
    if (ended_) return;
    ended_ = true;
    // A pre-flight still under way must not answer into a later walk.
    if (urlConnection_) urlConnection_->cancel();
    urlConnection_ = nullptr;
    releaseTimer();
    if (smartWebView_) smartWebView_->setDelegate(nullptr);
    auto& slot = TRASmartRedirectSlot();
    if (slot.get() == this) slot = nullptr;
}

// ---- navigation decision -----------------------------------------------------------------------------

bool TRASmartRedirectWebView::webViewShouldStartLoadWithRequest(Ref<UIWebView>, const NSURLRequest& request,
                                                                UIWebViewNavigationType) {
    if (ended_) return false;
    auto keep = self<TRASmartRedirectWebView>();
    const Ref<NSURL>& url = request.URL();
    if (!url || url->absoluteString() == "about:blank") {
        addHop(std::string("Blank"));
        return false;
    }
    const std::string& text = url->absoluteString();
    lastUrl_ = text;
    std::string scheme = url->scheme();
    bool storeHost = text.find(kAppStoreWebHost) != std::string::npos;

    if (scheme == "https" && !storeHost) {
        if (!httpsRequest_ || !httpsRequest_->URL() || httpsRequest_->URL()->absoluteString() != text) authenticated_ = false;
        if (!authenticated_) {
            // A newer https page replaces a pre-flight still under way.
            if (urlConnection_) urlConnection_->cancel();
            httpsRequest_ = NSURLRequest::requestWithURL(url, request.cachePolicy(), request.timeoutInterval());
            urlConnection_ = NSObject::alloc<NSURLConnection>()->initWithRequest(*httpsRequest_, keep, true);
            return false;
        }
        addHop(text);
        return true;
    }

    if (scheme != "http" && scheme != "https" && scheme != "itms-appss" && scheme != "itms-apps") {
        addHop(text);
        auto application = UIApplication::sharedApplication();
        if (application->canOpenURL(url)) {
            report(TRAAnalytics::CategoryFailedSmartRedirect, text, "URL Scheme open");
            cancelProgressBar();
            // The web view loads only web pages: the system takes the URL.
            application->openURL(url);
            sendDelegatesWithInAppBrowserURL(std::nullopt);
            releaseTimer();
            endWalk();
        } else {
            report(TRAAnalytics::CategoryFailedSmartRedirect, text, "URL Scheme can't open");
        }
        return false;
    }

    if (scheme != "http") {
        // The store: https on the store's web host, "itms-apps" or "itms-appss".
        smartWebView_->stopLoading();
        if (!TRAMetadata::sharedMetadata()->isInAppStoreEnabled()) releaseTimer();
        NSThread::sleepForTimeInterval(1.0);
        smartWebView_->setDelegate(nullptr);
        addHop(text);
        openAppStore(url);
        return false;
    }

    addHop(text);
    return true;
}

void TRASmartRedirectWebView::webViewDidFinishLoad(Ref<UIWebView>) {
    if (!ended_) finishLoading_ = true;
}

void TRASmartRedirectWebView::webViewDidFailLoadWithError(Ref<UIWebView>, Ref<NSError> error) {
    if (ended_ || !error) return;
    auto keep = self<TRASmartRedirectWebView>();
    bool webKit = error->domain() == WebKitErrorDomain;
    if ((webKit && error->code() == 102) || error->code() == NSURLErrorCancelled) return;
    if (webKit && error->code() == 101) {
        report(TRAAnalytics::CategoryFailedSmartRedirect, error->userInfo()[NSErrorFailingURLStringKey].stringValue(),
               "Warning: Can't open url");
        return;
    }
    if (!TRASmartRedirectSkipsReport(error))
        report(TRAAnalytics::CategoryFailedSmartRedirect,
               NSString::stringWithFormat("Error: %@, Url: %@", error->localizedDescription(), lastUrl_),
               NSString::stringWithFormat("WebView Error: %ld", error->code()));
    cancelProgressBar();
    auto delegate = delegate_.lock();
    if (delegate && delegate->respondsToSelector("didFinishWithError:")) delegate->didFinishWithError(error);
    releaseStoreController();
    releaseTimer();
    openUrl(TRASmartRedirectURL(lastUrl_));
    endWalk();
}

// ---- the https pre-flight ----------------------------------------------------------------------------

bool TRASmartRedirectWebView::connectionCanAuthenticateAgainstProtectionSpace(Ref<NSURLConnection>,
                                                                              Ref<NSURLProtectionSpace> space) {
    return space && space->authenticationMethod() == NSURLAuthenticationMethodServerTrust;
}

void TRASmartRedirectWebView::connectionDidReceiveAuthenticationChallenge(Ref<NSURLConnection>,
                                                                          Ref<NSURLAuthenticationChallenge> challenge) {
    auto sender = challenge ? challenge->sender() : nullptr;
    if (!sender) return;
    if (ended_ || challenge->previousFailureCount() != 0) {
        sender->cancelAuthenticationChallenge(challenge);
        return;
    }
    // The certificate was verified before the challenge; the default handling
    // keeps it that way (an untrusted server never gets this far).
    authenticated_ = true;
    sender->performDefaultHandlingForAuthenticationChallenge(challenge);
}

void TRASmartRedirectWebView::connectionDidReceiveResponse(Ref<NSURLConnection> connection, Ref<NSURLResponse>) {
    if (ended_ || connection != urlConnection_) return;
    authenticated_ = true;
    connection->cancel();
    urlConnection_ = nullptr;
    smartWebView_->loadRequest(*httpsRequest_);
}

void TRASmartRedirectWebView::connectionDidFailWithError(Ref<NSURLConnection> connection, Ref<NSError> error) {
    if (ended_ || connection != urlConnection_ || !error) return;
    auto keep = self<TRASmartRedirectWebView>();
    urlConnection_ = nullptr;
    if (!TRASmartRedirectSkipsReport(error))
        report(TRAAnalytics::CategoryFailedSmartRedirect,
               NSString::stringWithFormat("Error: %@, Url: %@", error->localizedDescription(), lastUrl_),
               NSString::stringWithFormat("Connection Error: %ld", error->code()));
    Ref<NSURL> failing = error->userInfo()[NSErrorFailingURLKey].object<NSURL>();
    std::string failingScheme = failing ? failing->scheme() : "";
    if ((failingScheme == "itms-appss" || failingScheme == "itms-apps") &&
        UIApplication::sharedApplication()->canOpenURL(failing))
        openUrl(failing);
    else
        openUrl(TRASmartRedirectURL(lastUrl_));
    cancelProgressBar();
    sendDelegatesWithInAppBrowserURL(std::nullopt);
    releaseTimer();
    releaseStoreController();
    endWalk();
}

// ---- store ------------------------------------------------------------------------------------------

void TRASmartRedirectWebView::openAppStore(const Ref<NSURL>& url) {
    if (TRAMetadata::sharedMetadata()->isInAppStoreEnabled()) {
        presentAppStoreForID(url);
        return;
    }
    cancelProgressBar();
    openUrl(url);
    sendDelegatesWithInAppBrowserURL(std::nullopt);
    endWalk();
}

void TRASmartRedirectWebView::presentAppStoreForID(const Ref<NSURL>& url) {
    if (!NSClassFromString("SKStoreProductViewController")) {
        cancelProgressBar();
        openUrl(url);
        sendDelegatesWithInAppBrowserURL(std::nullopt);
        releaseTimer();
        releaseStoreController();
        endWalk();
        return;
    }
    std::string identifier = TRAAdSDKUtils::findIdFromAppStoreUrl(url->absoluteString());
    if (identifier.empty()) {
        cancelProgressBar();
        sendDelegatesWithInAppBrowserURL(std::nullopt);
        releaseTimer();
        openUrl(url);
        endWalk();
        return;
    }
    if (!storeController_) {
        storeController_ = TRASKStoreProductViewController::alloc()->init();
        storeController_->setDelegate(self<TRASmartRedirectWebView>());
    }
    auto keep = self<TRASmartRedirectWebView>();
    Ref<SKStoreProductViewController> sheet = storeController_;
    sheet->loadProductWithParameters(Value::dictionary({{SKStoreProductParameterItemIdentifier, identifier}}),
                                     [keep, url, sheet](bool loaded, Ref<NSError>) {
                                         // A load that ends after the walk (time-out) changes nothing.
                                         if (keep->ended_ || keep->storeController_ != sheet) return;
                                         keep->storeLoadEnded(url, loaded);
                                     });
}

void TRASmartRedirectWebView::storeLoadEnded(const Ref<NSURL>& url, bool loaded) {
    cancelProgressBar();
    releaseTimer();
    if (loaded) {
        auto delegate = delegate_.lock();
        if (delegate && delegate->respondsToSelector("didExitWebViewWithInAppBrowser:"))
            delegate->didExitWebViewWithInAppBrowser(std::nullopt);
        if (presentStoreSheet()) {
            TRAAdCache::sharedInstance()->setAllowAutoRotate(false);
            return;  // the walk ends when the user closes the sheet
        }
        // Nothing could show the sheet: the system takes the link, so the walk ends.
        TRALog::errorf("The store sheet could not be shown; %@ goes to the system.",
                       platform::urlForLog(url->absoluteString()));
        releaseStoreController();
        openUrl(url);
        endWalk();
        return;
    }
    sendDelegatesWithInAppBrowserURL(std::nullopt);
    if (storeController_) storeController_->setDelegate(nullptr);
    report(TRAAnalytics::CategoryFailedSmartRedirect, lastUrl_, "inAppStore Error");
    openUrl(url);
    endWalk();
}

bool TRASmartRedirectWebView::presentStoreSheet() {
    auto window = UIApplication::sharedApplication()->keyWindow();
    Ref<UIViewController> root = window ? window->rootViewController() : nullptr;
    if (!root || !storeController_) return false;
    Ref<UIViewController> presenter;
    if (platform::systemVersionAtLeast(8, 0)) {
        Ref<UIViewController> presented = root->presentedViewController();
        if (!presented) presenter = TRAAdSDKUtils::topViewControllerWithRootViewController(root);
        else if (std::dynamic_pointer_cast<TRAAdViewController>(presented)) presenter = root;
        else presenter = presented;
    } else {
        presenter = TRAAdSDKUtils::topViewControllerWithRootViewController(root);
    }
    if (!presenter) return false;
    presenter->presentViewController(storeController_, true, nullptr);
    // A refused presentation leaves the sheet without a presenter.
    return storeController_->presentingViewController() != nullptr;
}

void TRASmartRedirectWebView::productViewControllerDidFinish(Ref<SKStoreProductViewController> controller) {
    if (ended_) return;
    auto keep = self<TRASmartRedirectWebView>();
    if (controller) controller->dismissViewControllerAnimated(true, [] {});
    auto storeDelegate = inAppStoreDelegate_.lock();
    if (storeDelegate && storeDelegate->respondsToSelector("didCloseInAppStore")) storeDelegate->didCloseInAppStore();
    TRAAdCache::sharedInstance()->setAllowAutoRotate(true);
    releaseStoreController();
    endWalk();
}

void TRASmartRedirectWebView::releaseStoreController() {
    if (storeController_) storeController_->setDelegate(nullptr);
    storeController_ = nullptr;
}

// ---- the open step and the exit callback ------------------------------------------------------------

void TRASmartRedirectWebView::openUrl(const Ref<NSURL>& url) {
    auto application = UIApplication::sharedApplication();
    if (url && application->canOpenURL(url)) {
        sendHopsToAnalytics(false);
        application->openURL(url);
        return;
    }
    if (url) {
        report(TRAAnalytics::CategoryFailedSmartRedirect, url->absoluteString(), "Can't open url");
        auto current = smartWebView_ ? smartWebView_->request() : nullptr;
        if (current && current->URL() && application->canOpenURL(current->URL())) application->openURL(current->URL());
        return;
    }
    if (TRANetworkData::sharedInstance()->internetReachability()->currentReachabilityStatus() != TRANotReachable)
        report(TRAAnalytics::CategoryFailedSmartRedirect, std::nullopt, "Can't open url");
}

void TRASmartRedirectWebView::sendDelegatesWithInAppBrowserURL(const std::optional<std::string>& url) {
    auto delegate = delegate_.lock();
    if (!delegate) return;
    if (closeViewController_ && delegate->respondsToSelector("allowAutoRotate")) delegate->allowAutoRotate();
    if (delegate->respondsToSelector("didExitWebViewWithInAppBrowser:")) delegate->didExitWebViewWithInAppBrowser(url);
}

// ---- time-out ---------------------------------------------------------------------------------------

void TRASmartRedirectWebView::startTimeOut() {
    if (urlTimer_) return;
    urlTimer_ = NSTimer::scheduledTimerWithTimeInterval(timeout_, self<TRASmartRedirectWebView>(),
                                                        &TRASmartRedirectWebView::cancelURLConnection, Value(), false);
}

void TRASmartRedirectWebView::releaseTimer() {
    if (urlTimer_) urlTimer_->invalidate();
    urlTimer_ = nullptr;
}

void TRASmartRedirectWebView::cancelURLConnection(Ref<NSTimer> timer) {
    if (ended_ || !urlTimer_ || urlTimer_ != timer || !urlTimer_->isValid()) return;
    auto keep = self<TRASmartRedirectWebView>();
    releaseStoreController();
    if (!finishLoading_) smartWebView_->stopLoading();
    smartWebView_->setDelegate(nullptr);
    cancelProgressBar();
    sendHopsToAnalytics(true);

    auto application = UIApplication::sharedApplication();
    bool browserAllowed = TRAMetadata::sharedMetadata()->isTrilliumBrowserEnabled() && trilliumBrowserEnabled_;
    Ref<NSURL> last = TRASmartRedirectURL(lastUrl_);
    auto current = smartWebView_->request();
    Ref<NSURL> original = current ? current->URL() : nullptr;
    if (last && application->canOpenURL(last)) {
        report(TRAAnalytics::CategoryFailedSmartRedirect, lastUrl_, "Timeout");
        if (browserAllowed) {
            sendDelegatesWithInAppBrowserURL(lastUrl_);
        } else {
            application->openURL(last);
            sendDelegatesWithInAppBrowserURL(std::nullopt);
        }
    } else if (original && application->canOpenURL(original)) {
        report(TRAAnalytics::CategoryFailedSmartRedirect, lastUrl_, "Timeout open orig url");
        if (browserAllowed) {
            sendDelegatesWithInAppBrowserURL(original->absoluteString());
        } else {
            application->openURL(original);
            sendDelegatesWithInAppBrowserURL(std::nullopt);
        }
    } else {
        sendDelegatesWithInAppBrowserURL(std::nullopt);
        report(TRAAnalytics::CategoryFailedSmartRedirect, lastUrl_, "Can't open url after timeout");
    }
    releaseTimer();
    endWalk();
}

// ---- spinner ----------------------------------------------------------------------------------------

void TRASmartRedirectWebView::createProgressBar() {
    if (!adView_) return;
    auto spinner = UIActivityIndicatorView::alloc()->initWithActivityIndicatorStyle(0);
    spinner->setTag(kSpinnerTag);
    spinner->setFrame(adView_->bounds());
    spinner->setColor(UIColor::whiteColor());
    spinner->setBackgroundColor(UIColor::blackColor());
    spinner->setAlpha(0.7f);
    adView_->addSubview(spinner);
    adView_->bringSubviewToFront(spinner);
    spinner->startAnimating();
}

void TRASmartRedirectWebView::cancelProgressBar() {
    Ref<UIView> found = adView_ ? adView_->viewWithTag(kSpinnerTag) : nullptr;
    if (!found) return;
    if (auto spinner = std::dynamic_pointer_cast<UIActivityIndicatorView>(found)) spinner->stopAnimating();
    found->removeFromSuperview();
}

// ---- hops and their statistics ----------------------------------------------------------------------

void TRASmartRedirectWebView::addHop(const std::optional<std::string>& url) {
    if (hops_.size() >= kMaximumHops) return;
    std::string text = url.value_or("Empty");
    if (text.size() > kMaximumHopUrlBytes) {
        size_t cut = kMaximumHopUrlBytes;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        text.resize(cut);
    }
    hops_.push_back(Hop{std::move(text), NSDate::date().timeIntervalSince1970(), std::nullopt});
}

void TRASmartRedirectWebView::calculateHopTime() {
    double now = NSDate::date().timeIntervalSince1970();
    for (size_t i = 0; i < hops_.size(); ++i) {
        if (hops_[i].totalTime) continue;
        double end = i + 1 < hops_.size() ? hops_[i + 1].start : now;
        hops_[i].totalTime = NSString::stringWithFormat("%.2f", end - hops_[i].start);
    }
}

std::optional<std::string> TRASmartRedirectWebView::getLongestHop() {
    // Starting below zero, so that a walk of 0.00 s hops reports its first one.
    float longest = -1;
    const Hop* found = nullptr;
    for (const Hop& hop : hops_) {
        float seconds = std::strtof(hop.totalTime.value_or("0").c_str(), nullptr);
        if (seconds > longest) {
            longest = seconds;
            found = &hop;
        }
    }
    if (!found) return std::nullopt;
    return NSString::stringWithFormat("%.2f-%@", longest, found->url);
}

void TRASmartRedirectWebView::sendHopsToAnalytics(bool timedOut) {
    auto metadata = TRAMetadata::sharedMetadata();
    std::string prefix = timedOut ? "Timeout " : "";
    int64_t statsOnceIn = metadata->getAnalyticsSendHopsStatsOnceInXClicks();
    if (statsOnceIn > 0 && TRAAdSDKUtils::randomNumBetweenOneAndMaxNum(statsOnceIn) == 1) {
        calculateHopTime();
        std::string details;
        for (size_t i = 0; i < hops_.size(); ++i) {
            if (i) details += ",";
            std::string url = NSString::stringByReplacingOccurrencesOfString(hops_[i].url, ",", "%2C");
            url = NSString::stringByReplacingOccurrencesOfString(url, ";", "%3B");
            details += NSString::stringWithFormat("%@;%@", url, hops_[i].totalTime);
        }
        // The server reads the three as one record: they reach it in this order.
        std::vector<TRAAnalytics::Event> statistics = {
            {TRAAnalytics::CategoryInfoSmartRedirect, details, prefix + "Hops details"},
            {TRAAnalytics::CategoryInfoSmartRedirect, NSString::stringWithFormat("%lu", hops_.size()),
             prefix + "Hops total"}};
        if (auto longest = getLongestHop())
            statistics.push_back({TRAAnalytics::CategoryInfoSmartRedirect, longest, prefix + "Hops longest"});
        TRAAnalytics::sendAnalyticsEventsInOrder(statistics, dParams_);
    }
    int64_t latencyOnceIn = metadata->getAnalyticsSendHopsLatencyOnceInXClicks();
    if (latencyOnceIn > 0 && TRAAdSDKUtils::randomNumBetweenOneAndMaxNum(latencyOnceIn) == 1)
        sendHopLatencyMaxTime(timedOut);
}

void TRASmartRedirectWebView::sendHopLatencyMaxTime(bool timedOut) {
    calculateHopTime();
    int64_t maximum = TRAMetadata::sharedMetadata()->getAnalyticsHopLatencyMaxTime();
    for (size_t i = 0; i < hops_.size(); ++i) {
        float seconds = std::strtof(hops_[i].totalTime.value_or("0").c_str(), nullptr);
        if (!(seconds > static_cast<float>(maximum))) continue;
        std::string prefix = timedOut && i + 1 == hops_.size() ? "Timeout " : "";
        report(TRAAnalytics::CategoryInfoSmartRedirect, NSString::stringWithFormat("%@-%.2f", hops_[i].url, seconds),
               prefix + "Hop latency max time");
    }
}

void TRASmartRedirectWebView::report(int64_t category, const std::optional<std::string>& details,
                                     const std::string& value) {
    TRAAnalytics::sendAnalyticsURLWithCategory(category, details, value, dParams_);
}

std::optional<std::string> TRASmartRedirectWebView::stringBetweenString(const std::string& text,
                                                                        const std::string& start,
                                                                        const std::string& end) {
    size_t from = text.find(start);
    if (start.empty() || from == std::string::npos) return std::nullopt;
    from += start.size();
    size_t to = end.empty() ? std::string::npos : text.find(end, from);
    if (to == std::string::npos) return std::nullopt;
    return text.substr(from, to - from);
}

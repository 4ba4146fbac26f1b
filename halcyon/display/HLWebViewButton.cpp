#include "halcyon/display/HLWebViewButton.h"

#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLStringUtils.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/Log.h"

Ref<HLWebViewButton> HLWebViewButton::initWithSdk(const Ref<HLSdk>& sdk) {
    UIWebView::initWithFrame(CGRectZero);
    sdk_ = sdk;
    setDelegate(self<HLWebViewButton>());
    setOpaque(false);
    setBackgroundColor(UIColor::clearColor());
    scrollView()->setScrollEnabled(false);
    setIsAccessibilityElement(true);
    return self<HLWebViewButton>();
}

bool HLWebViewButton::webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                                        UIWebViewNavigationType navigationType) {
    Ref<NSURL> url = request.URL();
    Ref<HLSdk> sdk = sdk_.lock();
    Ref<HLLogManager> logger = sdk ? sdk->logManager() : nullptr;
    // As the ad view does: the user's tap at once, the page's own navigations folded by URL.
    const bool byUser = navigationType == UIWebViewNavigationTypeLinkClicked && webView &&
                        webView->consumeTransientUserActivation();
    if (logger) {
        const std::string shown = url ? platform::urlForLog(url->absoluteString()) : "(null)";
        if (byUser) logger->i("HLWebViewButton", "Handling a click on: %@", shown);
        else logger->foldedNavigation(pageLines_, "HLWebViewButton", shown);
    }
    if (!url || !HLUtils::hl_isEqualToStringIgnoringCase(url->scheme(), "halcyon") ||
        !HLUtils::hl_isEqualToStringIgnoringCase(url->host(), kHLSdkIdentifier))
        return true;

    // A row whose delegate method is missing falls through to the next one.
    const std::string path = url->path();
    Ref<HLWebViewButtonDelegate> delegate = clickDelegate_.lock();
    auto takes = [&](const char* suffix, const char* selector) {
        return NSString::hasSuffix(path, suffix) && delegate && delegate->respondsToSelector(selector);
    };
    auto button = self<HLWebViewButton>();
    if (takes("/close_ad", "didReceiveCloseCommandOnWebViewButton:"))
        delegate->didReceiveCloseCommandOnWebViewButton(button);
    else if (takes("/track_click", "didReceiveClickCommandOnWebViewButton:"))
        delegate->didReceiveClickCommandOnWebViewButton(button);
    else if (takes("/skip_ad", "didReceiveSkipCommandOnWebViewButton:"))
        delegate->didReceiveSkipCommandOnWebViewButton(button);
    else if (logger)
        logger->folded(pageLines_, "WARN", "HLWebViewButton", "Unknown URI action: %@",
                       platform::shortenedForLog(path));
    return true;
}

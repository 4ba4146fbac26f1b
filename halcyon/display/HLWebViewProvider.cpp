#include "halcyon/display/HLWebViewProvider.h"

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLUtils.h"

Ref<UIView> HLUIWebView::initWithFrame(CGRect frame) {
    UIWebView::initWithFrame(frame);
    baseInit();
    return self<UIView>();
}

Ref<HLUIWebView> HLUIWebView::initWithCoder(const Ref<NSCoder>&) {
    initWithFrame(CGRectZero);
    return self<HLUIWebView>();
}

void HLUIWebView::baseInit() {
    setBackgroundColor(UIColor::clearColor());
    if (Ref<UIScrollView> scroll = scrollView()) {
        scroll->setScrollEnabled(false);
        scroll->setBounces(false);
    }
    setAllowsLinkPreview(false);
}

const char* HLUIWebView::alertSuppressionScript() {
    return "window.prompt = function() {}; window.confirm = function() {}; window.alert = function() {};";
}

void HLUIWebView::loadAd(const Ref<HLAd>& ad, const std::optional<std::string>& overPlacement) {
    // Kept as written: the silencing script runs in the current document,
    // before the ad's page replaces it.
    stringByEvaluatingJavaScriptFromString(alertSuppressionScript());
    std::string html = ad && ad->htmlSource() ? *ad->htmlSource() : std::string();
    loadHTMLString(HLUtils::replacePlacementMacroInString(html, overPlacement, true), nullptr);
    if (Ref<UIScrollView> scroll = scrollView()) scroll->setScrollsToTop(false);
}

void HLUIWebView::clear() {
    setBackgroundColor(UIColor::clearColor());
    setOpaque(false);
}

Ref<HLUIWebView> HLWebViewProvider::webViewForSdk(const Ref<HLSdk>&, CGRect frame) {
    auto webView = HLUIWebView::alloc();
    webView->initWithFrame(frame);
    return webView;
}

void HLWebViewProvider::proxyDelegateForWebView(const Ref<UIWebView>& webView, const Ref<UIWebViewDelegate>& adView) {
    if (webView) webView->setDelegate(adView);
}

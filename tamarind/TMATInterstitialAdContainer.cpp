#include "tamarind/TMATInterstitialAdContainer.h"

#include "tamarind/TMLog.h"

Ref<TMATInterstitialAdContainerDelegate> TMATInterstitialAdContainer::interstitialDelegate() const {
    return std::dynamic_pointer_cast<TMATInterstitialAdContainerDelegate>(delegate());
}

bool TMATInterstitialAdContainer::beginPrerender() {
    {
        PLATFORM_SYNCHRONIZED(*this);
        if (isLoading()) {
            TMLog::logDebug("Interstitial ad view is already loading html. Prerendering is ignored.");
            return false;
        }
        setIsLoading(true);
    }
    webView()->setMediaPlaybackRequiresUserAction(true);
    webView()->setAllowsInlineMediaPlayback(false);
    return true;
}

void TMATInterstitialAdContainer::prerenderHtml(const std::string& html, const Ref<TMATBridgeManager>& bridges) {
    if (beginPrerender()) loadHTMLString(html, nullptr, bridges);
}

void TMATInterstitialAdContainer::prerenderUrl(const Ref<NSURL>& url, const Ref<TMATBridgeManager>& bridges) {
    if (beginPrerender()) loadURL(url, bridges);
}

void TMATInterstitialAdContainer::render() {
    if (isLoading()) {
        TMLog::logDebug("Interstitial ad view is already loading html. Rendering is ignored.");
        return;
    }
    webView()->setMediaPlaybackRequiresUserAction(false);
    webView()->setAllowsInlineMediaPlayback(true);
    if (auto delegate = interstitialDelegate()) delegate->interstitialDidRender();
}

void TMATInterstitialAdContainer::webViewDidFinishLoad(Ref<UIWebView> webView) {
    TMATBaseAdContainer::webViewDidFinishLoad(webView);
    bool wasLoading = isLoading_.exchange(false);
    if (!wasLoading) return;
    if (auto delegate = interstitialDelegate()) delegate->interstitialDidPrerender();
}

void TMATInterstitialAdContainer::webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) {
    TMATBaseAdContainer::webViewDidFailLoadWithError(webView, error);
    bool wasLoading = isLoading_.exchange(false);
    if (!wasLoading) return;
    if (auto delegate = interstitialDelegate()) delegate->interstitialDidFailToPrerenderWithError(error);
}

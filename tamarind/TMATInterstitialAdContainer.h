// The container of template interstitials: it loads the creative off screen
// (prerender, media held back) and shows it in a separate step (render),
// reporting both to its controller. A prerender while one is loading, and a
// render while loading, are logged and ignored. Main thread.
#pragma once

#include "tamarind/TMATBaseAdContainer.h"

// How the interstitial container reports to its controller: on the main
// thread; the prerender outcome on a later turn than prerenderHtml, exactly
// once per accepted prerender; the render inside render(). No container
// sends the last two; the controllers implement them.
class TMATInterstitialAdContainerDelegate : public virtual TMATAdContainerDelegate {
public:
    virtual void interstitialDidPrerender() = 0;
    // The web view's load error.
    virtual void interstitialDidFailToPrerenderWithError(Ref<NSError> error) = 0;
    virtual void interstitialDidRender() = 0;
    virtual void interstitialDidFailToRenderWithError(Ref<NSError> error) = 0;
    virtual void interstitialDidClickOnPrivateURL(const std::string& url) = 0;
};

class TMATInterstitialAdContainer : public TMATBaseAdContainer {
public:
    // Loads the page with a null base URL, media held back.
    void prerenderHtml(const std::string& html, const Ref<TMATBridgeManager>& bridges);
    // The same for the whole page at a URL.
    void prerenderUrl(const Ref<NSURL>& url, const Ref<TMATBridgeManager>& bridges);
    // Allows media and tells the controller; the prerendered page is what shows.
    void render();

    void webViewDidFinishLoad(Ref<UIWebView> webView) override;
    void webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) override;

    // The delegate, when it is an interstitial container delegate.
    Ref<TMATInterstitialAdContainerDelegate> interstitialDelegate() const;

private:
    // Marks the prerender begun and holds media back; false (logged) while one is loading.
    bool beginPrerender();
};

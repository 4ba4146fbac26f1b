// What every party but the owner holds instead of a banner: the web view's
// delegate, the target of the refresh and reveal timers, the configuration's
// listener, the ad's load delegate, the click follower's and the in-app
// browser's delegate. It holds the banner weakly and forwards each message to
// it while it lives; once the banner is gone every message is dropped (a
// navigation is then refused). The banner owns its proxy; timers keep it (not
// the banner) alive until they are invalidated. Main thread.
#pragma once

#include <optional>
#include <string>

#include "Trillium/TRAAd.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRASmartRedirectWebViewDelegate.h"
#include "platform/foundation/NSTimer.h"
#include "platform/web/UIWebView.h"

class TRABannerView;

class TRABannerProxy : public NSObject,
                       public TRAMetadataDelegate,
                       public TRAAdDelegate,
                       public TRASmartRedirectWebViewDelegate,
                       public UIWebViewDelegate {
public:
    static Ref<TRABannerProxy> alloc() { return NSObject::alloc<TRABannerProxy>(); }
    Ref<TRABannerProxy> init() { return self<TRABannerProxy>(); }

    Ref<TRABannerView> banner() const { return banner_.lock(); }
    void setBanner(const Ref<TRABannerView>& banner) { banner_ = banner; }

    // ---- forwarded ----
    void didFinishLoadMetadata() override;
    void didFinishLoadAd() override;
    void finishLoadAdWithError(const Ref<NSError>& error) override;
    // Both the ad's and the click follower's store-sheet close.
    void didCloseInAppStore() override;
    void didExitWebViewWithInAppBrowser(const std::optional<std::string>& url) override;
    void didFinishWithError(const Ref<NSError>& error) override;
    void allowAutoRotate() override;
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType navigationType) override;
    void webViewDidFinishLoad(Ref<UIWebView> webView) override;
    void webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) override;
    // The timers' selectors.
    void refreshBanner(Ref<NSTimer> timer);
    void showWebView(Ref<NSTimer> timer);

    PLATFORM_RESPONDS_TO("didExitWebViewWithInAppBrowser:", "didFinishWithError:", "allowAutoRotate",
                         "didCloseInAppStore")

private:
    Weak<TRABannerView> banner_;
};

// The web view an HTML ad renders into: the HLWebView protocol the ad view
// uses (load an ad over a placement, clear), its one implementation
// HLUIWebView on the platform's web view, and HLWebViewProvider, which makes
// it and wires it to its ad view. Main thread.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/NSCoder.h"
#include "platform/web/UIWebView.h"

class HLAd;
class HLSdk;

class HLWebView : public virtual NSObjectProtocol {
public:
    // Before each load the page's alert, confirm and prompt are silenced;
    // the ad's page is loaded with its "{PLACEMENT}" macros filled (escaped),
    // as an HTML string without a base URL.
    virtual void loadAd(const Ref<HLAd>& ad, const std::optional<std::string>& overPlacement) = 0;
    // Clear and not opaque.
    virtual void clear() = 0;
};

class HLUIWebView : public UIWebView, public HLWebView {
public:
    static Ref<HLUIWebView> alloc() { return std::make_shared<HLUIWebView>(); }
    Ref<UIView> initWithFrame(CGRect frame) override;
    Ref<HLUIWebView> initWithCoder(const Ref<NSCoder>& coder);
    // Clear; the scroll view neither scrolls nor bounces; no link previews.
    void baseInit();

    void loadAd(const Ref<HLAd>& ad, const std::optional<std::string>& overPlacement) override;
    void clear() override;
    // The script evaluated before every load.
    static const char* alertSuppressionScript();
};

class HLWebViewProvider {
public:
    static Ref<HLUIWebView> webViewForSdk(const Ref<HLSdk>& sdk, CGRect frame);
    static bool isWebKitSupported() { return false; }
    // The ad view becomes the web view's delegate.
    static void proxyDelegateForWebView(const Ref<UIWebView>& webView, const Ref<UIWebViewDelegate>& adView);
};

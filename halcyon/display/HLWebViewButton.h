// The small web view that shows a video ad's HTML button over the video. Its
// page talks through "halcyon" command URLs (scheme and host compared
// ignoring case): "/track_click", "/close_ad" and "/skip_ad" reach the click
// delegate; every navigation loads, command URLs included. Main thread.
#pragma once

#include "halcyon/core/HLLogManager.h"
#include "platform/web/RepeatedRefusals.h"
#include "platform/web/UIWebView.h"

class HLSdk;
class HLWebViewButton;

// Optional methods, asked for first; told on the main thread, once per
// command navigation of the button's page.
class HLWebViewButtonDelegate : public virtual NSObjectProtocol {
public:
    virtual void didReceiveClickCommandOnWebViewButton(const Ref<HLWebViewButton>&) {}
    virtual void didReceiveCloseCommandOnWebViewButton(const Ref<HLWebViewButton>&) {}
    virtual void didReceiveSkipCommandOnWebViewButton(const Ref<HLWebViewButton>&) {}
};

class HLWebViewButton : public UIWebView, public UIWebViewDelegate {
public:
    static Ref<HLWebViewButton> alloc() { return std::make_shared<HLWebViewButton>(); }
    // Its own web view delegate; clear, not opaque, not scrolling, an
    // accessibility element.
    Ref<HLWebViewButton> initWithSdk(const Ref<HLSdk>& sdk);

    Ref<HLSdk> sdk() const { return sdk_.lock(); }
    Ref<HLWebViewButtonDelegate> clickDelegate() const { return clickDelegate_.lock(); }
    void setClickDelegate(const Ref<HLWebViewButtonDelegate>& delegate) { clickDelegate_ = delegate; }

    // Acts on command URLs (a path no delegate method took is logged as an
    // unknown action) and answers true for every navigation.
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType navigationType) override;

private:
    Weak<HLSdk> sdk_;
    Weak<HLWebViewButtonDelegate> clickDelegate_;
    platform::web::RepeatedRefusals pageLines_{HLLogManager::kFoldedLinePeriod};  // the page's lines, folded
};

// The headless web view: a view that loads HTML strings, files and http(s)
// pages into a script context of its own (present from initWithFrame; each
// document gets a fresh global scope in it, see javaScriptContext()), offers
// every navigation to its delegate, reports each top-level load with one
// start and one finish or fail, and hands URLs it cannot load to the system.
// Every callback arrives as a main-queue task, never inside the call that
// caused it. Main thread only.
// Pages are hostile input: a navigation or script URL a page gives over
// 64 KB is refused, and the navigations waiting to be offered are bounded in
// number and URL bytes (the excess is dropped); a refusal repeated in one
// main-queue turn is logged once, with its count.
// A loaded document's readyState goes "loading" (its scripts run) →
// "interactive" (DOMContentLoaded) → "complete" (the load event, then
// webViewDidFinishLoad), each state in a main-queue turn of its own, so work
// queued between them (frames the page inserts, timers, the delegate) reads
// the intermediate states. Navigations the page asks for meanwhile, other
// than frames, are offered after the finish.
// An HTTP redirect is offered to webViewShouldStartLoadWithRequest whatever
// its target's scheme: refused, the load ends with WebKitErrorDomain 102;
// allowed but not loadable (a store link, an app's own scheme), it fails
// with NSURLErrorDomain -1002 and NSErrorFailingURLKey = the target (a
// frame's redirect is offered the same way and never reported).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/net/NSURLRequest.h"
#include "platform/ui/UIScrollView.h"
#include "platform/ui/UIView.h"
#include "platform/web/JSContext.h"

namespace platform {

class UIWebView;

enum UIWebViewNavigationType : int64_t {
    UIWebViewNavigationTypeLinkClicked = 0,
    UIWebViewNavigationTypeFormSubmitted = 1,
    UIWebViewNavigationTypeBackForward = 2,
    UIWebViewNavigationTypeReload = 3,
    UIWebViewNavigationTypeFormResubmitted = 4,
    UIWebViewNavigationTypeOther = 5,
};

using UIDataDetectorTypes = uint64_t;

// All methods optional; the defaults do what "not implemented" does.
class UIWebViewDelegate : public virtual NSObjectProtocol {
public:
    // Every navigation is offered once: URL() is the target; mainDocumentURL()
    // the target for top-level loads, the top document's URL for frames.
    virtual bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                                   UIWebViewNavigationType navigationType);
    virtual void webViewDidStartLoad(Ref<UIWebView> webView);
    virtual void webViewDidFinishLoad(Ref<UIWebView> webView);
    virtual void webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error);
};

namespace web {
class WebViewLoader;
}

class UIWebView : public UIView {
public:
    static Ref<UIWebView> alloc() { return std::make_shared<UIWebView>(); }
    // Makes the scroll view (the first subview) and the script context.
    // Snapshots draw the current document, as its scripts left it, as the
    // scroll view's content: laid out for its width, scrolled to the top,
    // clipped to it (never running the page).
    Ref<UIView> initWithFrame(CGRect frame) override;
    ~UIWebView() override;

    Ref<UIScrollView> scrollView() const { return scrollView_; }
    Ref<UIWebViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<UIWebViewDelegate>& delegate) { delegate_ = delegate; }

    // Offered as "about:blank" (null base) or the base URL's text exactly;
    // the document URL is the base URL.
    void loadHTMLString(const std::string& html, const Ref<NSURL>& baseURL);
    // Offered as given (cache policy and time-out kept); a request without a
    // URL loads and reports nothing.
    void loadRequest(const NSURLRequest& request);
    // Cancels a top-level load in progress (failing it with -999, as a task)
    // and drops the navigations still queued.
    void stopLoading();
    void reload();
    void goBack();
    void goForward();
    bool canGoBack() const;
    bool canGoForward() const;
    bool isLoading() const;
    // The top-level load in progress, else the current document's (null before any).
    Ref<NSURLRequest> request() const;

    // Runs the script in the current document now; its result's String()
    // form, "" for undefined, null, an exception (logged) or a frozen page.
    // Navigations it causes are only queued.
    std::string stringByEvaluatingJavaScriptFromString(const std::string& script);
    // The same context for the view's whole life. Each document has a fresh
    // global scope in it: what a page leaves is gone with it (its values read
    // undefined, its memory is collected). Into each new scope go again the
    // globals native code set by value or exported object (the latest per
    // name) and the scripts native code evaluated before the first page; the
    // first page takes the scope native code set up as it is. What native
    // code evaluates or sets through script values while a page is shown
    // belongs to that page. A page whose script runs into the time limit or
    // over its heap budget (JSVirtualMachine) is frozen: its scripts, timers
    // and events stop, and evaluations in it answer "" at once; it is drawn
    // as its scripts left it, and its memory is given back at once.
    Ref<JSContext> javaScriptContext() const { return context_; }
    // "documentView.webView.mainFrame.javaScriptContext" → the context; other
    // key paths log "undefined key" and give null.
    Value valueForKeyPath(const std::string& keyPath) const;

    // Kept without effect.
    bool scalesPageToFit() const { return scalesPageToFit_; }
    void setScalesPageToFit(bool v) { scalesPageToFit_ = v; }
    bool allowsInlineMediaPlayback() const { return allowsInlineMediaPlayback_; }
    void setAllowsInlineMediaPlayback(bool v) { allowsInlineMediaPlayback_ = v; }
    bool mediaPlaybackRequiresUserAction() const { return mediaPlaybackRequiresUserAction_; }
    void setMediaPlaybackRequiresUserAction(bool v) { mediaPlaybackRequiresUserAction_ = v; }
    bool allowsLinkPreview() const { return allowsLinkPreview_; }
    void setAllowsLinkPreview(bool v) { allowsLinkPreview_ = v; }
    bool keyboardDisplayRequiresUserAction() const { return keyboardDisplayRequiresUserAction_; }
    void setKeyboardDisplayRequiresUserAction(bool v) { keyboardDisplayRequiresUserAction_ = v; }
    UIDataDetectorTypes dataDetectorTypes() const { return dataDetectorTypes_; }
    void setDataDetectorTypes(UIDataDetectorTypes v) { dataDetectorTypes_ = v; }

    // The User-Agent of every web view's requests and navigator.userAgent
    // (any thread). Default: the device profile's; nullopt restores it.
    static void setUserAgent(std::optional<std::string> userAgent);
    static std::string userAgent();

    // Transient user activation, as browsers give pages for pop-ups: the
    // user's tap on the web view (its page, not a view laid over it) or link
    // click grants its page one, before the page hears the click. It lasts
    // kTransientUserActivationSeconds on the clock, as long as browsers keep
    // one (a click handler may wait for its tracker before it opens), and
    // the first consume uses it up. Script alone (timers, load handlers, the
    // clicks and navigations it makes) never grants one.
    static constexpr double kTransientUserActivationSeconds = 5.0;
    bool hasTransientUserActivation() const;
    // True when the page held one; it is used up.
    bool consumeTransientUserActivation();
    // A touch that ends on the web view is the user's tap: it grants an activation.
    void touchesEnded(const std::vector<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;

    // Seams: a user's tap on the element with the id (false when there is
    // none) / on the first link with the href (followed even without one).
    // Each grants an activation, as a tap does.
    bool simulateLinkClick(const std::string& elementId);
    void simulateLinkClickOnHref(const std::string& href);

private:
    friend class web::WebViewLoader;

    void grantTransientUserActivation();

    Ref<UIScrollView> scrollView_;
    Weak<UIWebViewDelegate> delegate_;
    Ref<JSContext> context_;
    std::shared_ptr<web::WebViewLoader> loader_;
    bool scalesPageToFit_ = false;
    bool allowsInlineMediaPlayback_ = false;
    bool mediaPlaybackRequiresUserAction_ = true;
    bool allowsLinkPreview_ = false;
    bool keyboardDisplayRequiresUserAction_ = true;
    UIDataDetectorTypes dataDetectorTypes_ = 0;
    std::optional<double> userActivationUptime_;  // when the unused activation was granted
};

}  // namespace platform

using platform::UIDataDetectorTypes;
using platform::UIWebView;
using platform::UIWebViewDelegate;
using platform::UIWebViewNavigationType;
using platform::UIWebViewNavigationTypeBackForward;
using platform::UIWebViewNavigationTypeFormResubmitted;
using platform::UIWebViewNavigationTypeFormSubmitted;
using platform::UIWebViewNavigationTypeLinkClicked;
using platform::UIWebViewNavigationTypeOther;
using platform::UIWebViewNavigationTypeReload;

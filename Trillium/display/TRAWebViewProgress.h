// A page-load progress estimate for a web view, which reports only starts
// and finishes: the estimator sits between the web view and its real
// delegate, passes every call on unchanged, counts the loads in flight and
// turns them into a value from 0 to 1 that only grows until the next
// top-level navigation resets it to 0. Completion is seen when the page
// reports "complete", when a load fails, or when the hidden iframe it plants
// in an interactive page requests kCompletionPath (never fetched). Main
// thread. The owner keeps the estimator alive (a web view holds its delegate
// weakly); the estimator holds both its listeners weakly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/foundation/NSURL.h"
#include "platform/web/UIWebView.h"

class TRAWebViewProgress;

// Told each time the estimate changes, on the main thread, inside the web
// view callback that changed it.
class TRAWebViewProgressDelegate : public virtual NSObjectProtocol {
public:
    virtual void webViewProgressUpdateProgress(const Ref<TRAWebViewProgress>& webViewProgress, float progress) = 0;
};

class TRAWebViewProgress : public NSObject, public UIWebViewDelegate {
public:
    static constexpr float kInitialProgressValue = 0.1f;
    static constexpr float kInteractiveProgressValue = 0.5f;
    static constexpr float kFinalProgressValue = 0.9f;
    static constexpr float kCompleteProgressValue = 1.0f;
    // The path the hidden iframe requests; the navigation is refused.
    static const std::string kCompletionPath;

    Ref<TRAWebViewProgress> init() { return self<TRAWebViewProgress>(); }

    Ref<TRAWebViewProgressDelegate> progressDelegate() const { return progressDelegate_.lock(); }
    void setProgressDelegate(const Ref<TRAWebViewProgressDelegate>& delegate) { progressDelegate_ = delegate; }
    // The real delegate of the web view, which hears every call.
    Ref<UIWebViewDelegate> webViewProxyDelegate() const { return webViewProxyDelegate_.lock(); }
    void setWebViewProxyDelegate(const Ref<UIWebViewDelegate>& delegate) { webViewProxyDelegate_ = delegate; }
    // A second listener, called after the delegate.
    void setProgressBlock(std::function<void(float)> block) { progressBlock_ = std::move(block); }

    float progress() const { return progress_; }
    uint32_t loadingCount() const { return loadingCount_; }
    uint32_t maxLoadCount() const { return maxLoadCount_; }
    bool isInteractive() const { return interactive_; }
    const Ref<NSURL>& currentURL() const { return currentURL_; }

    // The estimator's steps.
    void startProgress();
    void incrementProgress();
    void completeProgress();
    void reset();
    // Taken only when above the stored value, or 0; listeners hear it.
    void setProgress(float progress);

    // UIWebViewDelegate: each passed on to the real delegate.
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType navigationType) override;
    void webViewDidStartLoad(Ref<UIWebView> webView) override;
    void webViewDidFinishLoad(Ref<UIWebView> webView) override;
    void webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) override;

    // Its own four methods, else whatever the real delegate lists.
    bool respondsToSelector(std::string_view selector) const override;

private:
    void loadEnded(const Ref<UIWebView>& webView, bool failed);

    uint32_t loadingCount_ = 0;
    uint32_t maxLoadCount_ = 0;
    Ref<NSURL> currentURL_;
    bool interactive_ = false;
    Weak<TRAWebViewProgressDelegate> progressDelegate_;
    Weak<UIWebViewDelegate> webViewProxyDelegate_;
    std::function<void(float)> progressBlock_;
    float progress_ = 0;
};

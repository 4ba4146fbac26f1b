#include "Trillium/display/TRAWebViewProgress.h"

#include "platform/foundation/NSString.h"

const std::string TRAWebViewProgress::kCompletionPath = "/qelwebviewprogressproxy/complete";

namespace {

constexpr const char* kTRAProgressIframeScript =
    "window.addEventListener('load',function() { var iframe = document.createElement('iframe'); "
    "iframe.style.display = 'none'; iframe.src = '%@://%@%@'; document.body.appendChild(iframe);  }, false);";

// The main document URL of the web view's current request.
Ref<NSURL> TRAProgressMainDocumentURL(const Ref<UIWebView>& webView) {
    auto request = webView ? webView->request() : nullptr;
    return request ? request->mainDocumentURL() : nullptr;
}

}  // namespace

void TRAWebViewProgress::setProgress(float progress) {
    if (!(progress > progress_ || progress == 0)) return;
    progress_ = progress;
    auto delegate = progressDelegate();
    if (delegate) delegate->webViewProgressUpdateProgress(self<TRAWebViewProgress>(), progress);
    if (progressBlock_) progressBlock_(progress);
}

void TRAWebViewProgress::startProgress() {
    if (progress_ < kInitialProgressValue) setProgress(kInitialProgressValue);
}

void TRAWebViewProgress::incrementProgress() {
    float progress = progress_;
    float target = interactive_ ? kFinalProgressValue : kInteractiveProgressValue;
    if (maxLoadCount_ == 0) {
        // An unbounded share: straight to the target, when that is a rise.
        if (target > progress) setProgress(target);
        return;
    }
    float share = static_cast<float>(loadingCount_) / static_cast<float>(maxLoadCount_);
    float next = progress + (target - progress) * share;
    setProgress(static_cast<float>(std::min(static_cast<double>(next), static_cast<double>(target))));
}

void TRAWebViewProgress::completeProgress() { setProgress(kCompleteProgressValue); }

void TRAWebViewProgress::reset() {
    maxLoadCount_ = loadingCount_ = 0;
    interactive_ = false;
    setProgress(0);
}

bool TRAWebViewProgress::webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                                           UIWebViewNavigationType navigationType) {
    const Ref<NSURL>& url = request.URL();
    if (url && url->path() == kCompletionPath) {
        completeProgress();
        return false;
    }
    bool answer = true;
    if (auto delegate = webViewProxyDelegate()) answer = delegate->webViewShouldStartLoadWithRequest(webView, request, navigationType);
    if (!url) return answer;

    bool fragmentJump = false;
    if (auto fragment = url->fragment()) {
        std::string without = NSString::stringByReplacingOccurrencesOfString(url->absoluteString(), "#" + *fragment, "");
        auto current = webView ? webView->request() : nullptr;
        fragmentJump = current && current->URL() && without == current->URL()->absoluteString();
    }
    bool topLevel = request.mainDocumentURL() && request.mainDocumentURL()->isEqual(*url);
    std::string scheme = url->scheme();
    bool webScheme = scheme == "http" || scheme == "https" || scheme == "file";
    if (answer && !fragmentJump && topLevel && webScheme) {
        currentURL_ = url;
        reset();
    }
    return answer;
}

void TRAWebViewProgress::webViewDidStartLoad(Ref<UIWebView> webView) {
    if (auto delegate = webViewProxyDelegate()) delegate->webViewDidStartLoad(webView);
    ++loadingCount_;  // unsigned: a late failure may have wrapped it
    maxLoadCount_ = std::max(maxLoadCount_, loadingCount_);
    startProgress();
}

void TRAWebViewProgress::webViewDidFinishLoad(Ref<UIWebView> webView) {
    if (auto delegate = webViewProxyDelegate()) delegate->webViewDidFinishLoad(webView);
    loadEnded(webView, false);
}

void TRAWebViewProgress::webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) {
    if (auto delegate = webViewProxyDelegate()) delegate->webViewDidFailLoadWithError(webView, error);
    loadEnded(webView, error != nullptr);
}

void TRAWebViewProgress::loadEnded(const Ref<UIWebView>& webView, bool failed) {
    --loadingCount_;
    incrementProgress();
    if (!webView) {
        if (failed) completeProgress();
        return;
    }
    std::string readyState = webView->stringByEvaluatingJavaScriptFromString("document.readyState");
    Ref<NSURL> mainDocument = TRAProgressMainDocumentURL(webView);
    if (readyState == "interactive") {
        interactive_ = true;
        if (mainDocument)
            webView->stringByEvaluatingJavaScriptFromString(NSString::stringWithFormat(
                kTRAProgressIframeScript, mainDocument->scheme(), mainDocument->host(), kCompletionPath));
    }
    bool notRedirect = currentURL_ && mainDocument && currentURL_->isEqual(*mainDocument);
    if ((readyState == "complete" && notRedirect) || failed) completeProgress();
}

bool TRAWebViewProgress::respondsToSelector(std::string_view selector) const {
    for (std::string_view own : {"webView:shouldStartLoadWithRequest:navigationType:", "webViewDidStartLoad:",
                                 "webViewDidFinishLoad:", "webView:didFailLoadWithError:"})
        if (selector == own) return true;
    auto delegate = webViewProxyDelegate();
    return delegate && delegate->respondsToSelector(selector);
}

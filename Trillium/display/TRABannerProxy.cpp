#include "Trillium/display/TRABannerProxy.h"

#include "Trillium/display/TRABannerView.h"

// Each forward holds the banner for the length of the call, so a callback
// that drops the banner's last owner still finishes.

void TRABannerProxy::didFinishLoadMetadata() {
    if (auto banner = this->banner()) banner->didFinishLoadMetadata();
}

void TRABannerProxy::didFinishLoadAd() {
    if (auto banner = this->banner()) banner->didFinishLoadAd();
}

void TRABannerProxy::finishLoadAdWithError(const Ref<NSError>& error) {
    if (auto banner = this->banner()) banner->finishLoadAdWithError(error);
}

void TRABannerProxy::didCloseInAppStore() {
    if (auto banner = this->banner()) banner->didCloseInAppStore();
}

void TRABannerProxy::didExitWebViewWithInAppBrowser(const std::optional<std::string>& url) {
    if (auto banner = this->banner()) banner->didExitWebViewWithInAppBrowser(url);
}

void TRABannerProxy::didFinishWithError(const Ref<NSError>& error) {
    if (auto banner = this->banner()) banner->didFinishWithError(error);
}

void TRABannerProxy::allowAutoRotate() {
    if (auto banner = this->banner()) banner->allowAutoRotate();
}

bool TRABannerProxy::webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                                       UIWebViewNavigationType navigationType) {
    auto banner = this->banner();
    return banner && banner->webViewShouldStartLoadWithRequest(std::move(webView), request, navigationType);
}

void TRABannerProxy::webViewDidFinishLoad(Ref<UIWebView> webView) {
    if (auto banner = this->banner()) banner->webViewDidFinishLoad(std::move(webView));
}

void TRABannerProxy::webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) {
    if (auto banner = this->banner()) banner->webViewDidFailLoadWithError(std::move(webView), std::move(error));
}

void TRABannerProxy::refreshBanner(Ref<NSTimer> timer) {
    if (auto banner = this->banner()) banner->refreshBanner(timer);
}

void TRABannerProxy::showWebView(Ref<NSTimer>) {
    if (auto banner = this->banner()) banner->showWebView();
}

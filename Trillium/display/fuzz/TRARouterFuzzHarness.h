// One fuzz input for the two navigation routers: the text is offered as a
// navigation to an HTML ad screen that is on display (a fresh one each time,
// its page showing three ads, one of them followed through redirects) and to
// an in-app browser. With the network off every walk the router starts ends
// at once. Whatever the text, the routers answer and nothing crashes or
// hangs. Used by the libFuzzer target and by the unit run's short pass.
#pragma once

#include <string_view>

#include "Trillium/TRAHtmlAd.h"
#include "Trillium/display/TRAAdViewController.h"
#include "Trillium/display/TRAInAppBrowserViewController.h"
#include "platform/net/NetworkConditions.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/ui/UIViewController.h"

class TRARouterFuzzHarness {
public:
    // Needs the platform started (virtual clock) with a key window whose root
    // controller is `root`, and the Trillium display classes registered.
    explicit TRARouterFuzzHarness(Ref<UIViewController> root) : root_(std::move(root)) {
        platform::testing::NetworkConditions::set(platform::NetworkState::None);
        ad_ = NSObject::alloc<TRAHtmlAd>()->init();
        ad_->setAdType(5);
        ad_->setHtml("<p>ad</p>");
        ad_->setTrackingUrl(std::vector<std::string>{"http://127.0.0.1:9/imp?d=1"});
        ad_->setClickTrackingUrl(std::vector<std::string>{"http://127.0.0.1:9/c?d=a", "http://127.0.0.1:9/c?d=b",
                                                          "http://127.0.0.1:9/c?d=c"});
        ad_->setSmartRedirect(std::vector<bool>{false, true, false});
        ad_->setTrilliumBrowserEnabled(std::vector<bool>{false, false, true});
    }

    void run(std::string_view text) {
        auto url = NSURL::URLWithString(text);
        auto request = NSURLRequest::requestWithURL(url);

        auto screen = TRAAdViewController::alloc()->init();
        screen->initWithAd(ad_, nullptr, std::string("tag"));
        screen->setFirstLoad(false);
        root_->presentViewController(screen, false, nullptr);
        screen->webViewShouldStartLoadWithRequest(screen->webView(), *request, UIWebViewNavigationTypeLinkClicked);
        if (!screen->isClosing()) screen->closeAdWithAnimation(false, false);
        driver_.drain();

        if (!browser_ || browser_->isClosed()) {
            browser_ = TRAInAppBrowserViewController::alloc()->initWithURL(std::string(text), nullptr);
            browser_->loadView();
        }
        browser_->webViewShouldStartLoadWithRequest(browser_->webView(), *request, UIWebViewNavigationTypeLinkClicked);
        TRAAdViewController::adIndexInUrl(std::string(text), NSString::rangeOfString(text, "index="));
        driver_.drain();
        driver_.advance(8);  // past any walk's time-out
    }

private:
    Ref<UIViewController> root_;
    Ref<TRAHtmlAd> ad_;
    Ref<TRAInAppBrowserViewController> browser_;
    platform::testing::RunLoopDriver driver_;
};

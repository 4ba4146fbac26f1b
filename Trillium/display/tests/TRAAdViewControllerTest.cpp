// The full-screen HTML ad screen through the public ad object, against the
// Trillium service on loopback: one display and one impression per URL
// however often the page loads, the refusals and their reasons, load
// failures before and after presentation, and what each kind of close puts
// back (styles, status bar, auto-rotate flag) and in which order the
// publisher and the in-app browser hear of it. Close URLs byte for byte, on
// the virtual clock.
#include <algorithm>

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAHtmlAd.h"
#include "Trillium/display/tests/TrilliumScreenTestSupport.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NetworkConditions.h"

namespace {

using simulator::TrilliumHtmlAd;
using simulator::TrilliumRequest;
using simulator::TrilliumService;

// Records, with each close callback, what is on top at that moment.
class TRAAdScreenOrderDelegate : public RecordingAdDelegate {
public:
    explicit TRAAdScreenOrderDelegate(std::function<std::string()> top) : top_(std::move(top)) {}
    void didClickAd(const Ref<TRAAbstractAd>& ad) override {
        RecordingAdDelegate::didClickAd(ad);
        events.push_back("top:" + top_());
    }
    void didCloseAd(const Ref<TRAAbstractAd>& ad) override {
        RecordingAdDelegate::didCloseAd(ad);
        events.push_back("top:" + top_());
    }

private:
    std::function<std::string()> top_;
};

class TRAAdViewControllerTest : public TrilliumScreenTest {
protected:
    std::string topName() const {
        auto top = topController();
        return top ? top->className() : "";
    }
    std::vector<TrilliumRequest> requestsTo(const char* path) {
        EXPECT_TRUE(driver().settle(10));
        return service.requestsTo(path);
    }
};

TEST_F(TRAAdViewControllerTest, TheFirstFinishedLoadShowsTheAdOnceWithItsImpressions) {
    TrilliumHtmlAd page = simplePage();
    page.impressions = {"imp1", "imp2"};
    auto ad = loadAd(page);
    auto screen = showAd(ad, std::string("level end"));
    ASSERT_NE(screen, nullptr);
    EXPECT_TRUE(screen->isPresented());
    EXPECT_EQ(screen->webView()->accessibilityLabel(), std::optional<std::string>("AdWebView"));
    EXPECT_FALSE(TRAAdCache::sharedInstance()->allowAutoRotate());
    EXPECT_EQ(screen->webView()->stringByEvaluatingJavaScriptFromString("window.enabledSchemes.join()"), "externalLinks");

    // A later finished load only enables the scheme again.
    screen->webViewDidFinishLoad(screen->webView());
    EXPECT_EQ(screen->webView()->stringByEvaluatingJavaScriptFromString("window.enabledSchemes.join()"),
              "externalLinks,externalLinks");
    EXPECT_EQ(publisher->events, std::vector<std::string>{"didShowAd"});
    auto impressions = requestsTo(TrilliumService::kImpressionPath);
    ASSERT_EQ(impressions.size(), 2u);
    // Sent in list order; two connections may arrive either way round.
    std::sort(impressions.begin(), impressions.end(), [](auto& a, auto& b) { return a.field("d") < b.field("d"); });
    EXPECT_EQ(impressions[0].field("d"), "imp1");
    EXPECT_EQ(impressions[1].field("d"), "imp2");
    for (const auto& r : impressions) {
        EXPECT_EQ(r.fieldNames(), (std::vector<std::string>{"d", "adTag", "clientSessionId", "profileId", "adTagEnc",
                                                             "ts", "sig"}));
        EXPECT_EQ(r.field("adTag"), "level end");
        EXPECT_TRUE(TrilliumService::signatureMatches(r, kTestDevId, kTestAppId));
    }
    EXPECT_NE(impressions[0].request.target.find("&adTag=level%20end&"), std::string::npos);
}

TEST_F(TRAAdViewControllerTest, RefusedDisplaysTellThePublisherWhyAndLeaveTheHostAlone) {
    // Without impression URLs: "Internal error".
    TrilliumHtmlAd bare = simplePage();
    bare.impressions.clear();
    auto ad = loadAd(bare);
    EXPECT_EQ(showAd(ad), nullptr);
    EXPECT_EQ(publisher->events, std::vector<std::string>{"failedShowAd"});
    EXPECT_EQ(publisher->lastError->localizedDescription(), "Internal error");

    // A refused ad goes back to the cache; this test wants fresh ones.
    EXPECT_TRUE(ad->isReady());
    TRAAdCache::sharedInstance()->clearCacheDB();

    // Another ad on screen: told as it is.
    publisher->events.clear();
    auto firstAd = loadAd(simplePage());
    auto first = showAd(firstAd);
    ASSERT_NE(first, nullptr);
    auto second = loadAd(simplePage());
    second->showAd();
    driver().drain();
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didShowAd", "failedShowAd"}));
    EXPECT_EQ(publisher->lastError->localizedDescription(), "An ad is already displayed");
    EXPECT_EQ(adScreen(), first);

    // A transition under way: "Internal error"; no connection: told as it is.
    first->closeAdWithAnimation(false, false);
    driver().drain();
    rootViewController()->presentViewController(UIViewController::alloc()->init(), true, nullptr);
    auto third = loadAd(simplePage());
    third->showAd();
    driver().drain();
    EXPECT_EQ(publisher->lastError->localizedDescription(), "Internal error");
    rootViewController()->dismissViewControllerAnimated(false, nullptr);
    driver().advance(1);
    auto fourth = loadAd(simplePage());
    platform::testing::NetworkConditions::set(platform::NetworkState::None);
    driver().drain();
    fourth->showAd();
    driver().drain();
    EXPECT_EQ(publisher->lastError->localizedDescription(), "No internet connection.");
    EXPECT_EQ(rootViewController()->presentedViewController(), nullptr);
    EXPECT_EQ(rootViewController()->modalPresentationStyle(), UIModalPresentationFullScreen);
}

TEST_F(TRAAdViewControllerTest, TheCloseCommandSendsCloseUrlsAndPutsTheHostBack) {
    UIApplication::sharedApplication()->setStatusBarHidden(true);
    rootViewController()->setModalPresentationStyle(UIModalPresentationFormSheet);
    auto parent = UIViewController::alloc()->init();
    parent->setModalPresentationStyle(UIModalPresentationPageSheet);
    rootViewController()->presentViewController(parent, false, nullptr);
    driver().drain();

    auto ad = loadAd(simplePage());
    auto screen = showAd(ad);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->parentVC(), parent);
    EXPECT_EQ(screen->modalPresentationStyle(), UIModalPresentationOverFullScreen);
    EXPECT_EQ(parent->modalPresentationStyle(), UIModalPresentationOverFullScreen);
    EXPECT_EQ(screen->parentPresentationStyle(), UIModalPresentationPageSheet);
    EXPECT_FALSE(screen->applicationHasStatusBar());

    driver().advance(12.5);
    tap(screen->webView(), "close");
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didShowAd", "didCloseAd"}));
    EXPECT_EQ(screen->presentingViewController(), nullptr);
    EXPECT_EQ(parent->modalPresentationStyle(), UIModalPresentationPageSheet);
    EXPECT_EQ(rootViewController()->modalPresentationStyle(), UIModalPresentationFormSheet);
    EXPECT_TRUE(UIApplication::sharedApplication()->isStatusBarHidden());
    EXPECT_TRUE(TRAAdCache::sharedInstance()->allowAutoRotate());
    EXPECT_EQ(screen->parentVC(), nullptr);

    auto closes = requestsTo(TrilliumService::kClosePath);
    ASSERT_EQ(closes.size(), 1u);
    std::string target = closes[0].request.target;
    EXPECT_EQ(target.substr(0, target.find("&ts=")), "/1.3/trackclose?d=close1&displayDuration=12.500");
    EXPECT_TRUE(TrilliumService::signatureMatches(closes[0], kTestDevId, kTestAppId));

    // Closed once: the ad's own close and a late follower failure do nothing more.
    screen->closeAdWithAnimation(false, false);
    screen->didFinishWithError(nullptr);
    driver().drain();
    EXPECT_EQ(publisher->events.size(), 2u);
}

TEST_F(TRAAdViewControllerTest, ALoadFailureAfterPresentationIsAFailureAndAClick) {
    auto ad = loadAd(simplePage());
    auto screen = showAd(ad);
    ASSERT_NE(screen, nullptr);
    screen->webViewDidFailLoadWithError(screen->webView(), platform::net::urlError(NSURLErrorCancelled, Ref<NSURL>()));
    screen->webViewDidFailLoadWithError(
        screen->webView(), NSError::errorWithDomain(WebKitErrorDomain, 102, Value::dictionary({})));
    EXPECT_EQ(publisher->events, std::vector<std::string>{"didShowAd"});  // cancelled and refused loads are ignored

    screen->webViewDidFailLoadWithError(screen->webView(),
                                        platform::net::urlError(NSURLErrorCannotConnectToHost, Ref<NSURL>()));
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didShowAd", "failedShowAd", "didClickAd"}));
    EXPECT_EQ(publisher->lastError->localizedDescription(), "Webview failed load");
    EXPECT_TRUE(TRAAdCache::sharedInstance()->allowAutoRotate());
}

TEST_F(TRAAdViewControllerTest, ALoadFailureBeforePresentationDecidesTheDisplay) {
    auto ad = loadAd(simplePage());
    ad->showAd();
    auto screen = std::dynamic_pointer_cast<TRAAdViewController>(
        std::dynamic_pointer_cast<TRAHtmlAd>(ad->internalAd())->viewController());
    ASSERT_NE(screen, nullptr);
    screen->webViewDidFailLoadWithError(screen->webView(),
                                        platform::net::urlError(NSURLErrorCannotConnectToHost, Ref<NSURL>()));
    driver().drain();  // the page's load finishes after the failure
    EXPECT_EQ(publisher->events, std::vector<std::string>{"failedShowAd"});
    EXPECT_FALSE(screen->isPresented());
    EXPECT_EQ(rootViewController()->presentedViewController(), nullptr);
    EXPECT_TRUE(TRAAdCache::sharedInstance()->allowAutoRotate());
    EXPECT_TRUE(requestsTo(TrilliumService::kImpressionPath).empty());
}

TEST_F(TRAAdViewControllerTest, AClickToTheBrowserIsHeardBeforeTheBrowserOpensAfterTheDismissal) {
    auto ordered = std::make_shared<TRAAdScreenOrderDelegate>([this] { return topName(); });
    publisher = ordered;
    auto ad = loadAd(simplePage());
    auto screen = showAd(ad);
    ASSERT_NE(screen, nullptr);
    tap(screen->webView(), "ad0");
    ASSERT_NE(browser(), nullptr);
    EXPECT_EQ(ordered->events,
              (std::vector<std::string>{"didShowAd", "didClickAd", "top:UIViewController"}));
    EXPECT_EQ(browser()->webViewURL(), chains.landingUrl() + "?index=0");
    EXPECT_FALSE(TRAAdCache::sharedInstance()->allowAutoRotate());  // the browser took rotation again
    EXPECT_TRUE(openedURLs().empty());
}

}  // namespace

// The HTML ad screen's router: blank pages and commands before and after the
// first load, the clicked ad's index, two-click mode on and off with the
// exact report and target strings (on the virtual clock), the routes to the
// in-app browser, the system and analytics, the click follower's arguments
// and a busy follower, and clicks refused for an index the lists do not
// reach or a screen not on display.
#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAHtmlAd.h"
#include "Trillium/display/tests/TrilliumScreenTestSupport.h"

namespace {

using simulator::TrilliumRequest;
using simulator::TrilliumService;

Ref<NSURLRequest> TRARouterRequest(const std::string& url) { return NSURLRequest::requestWithURL(NSURL::URLWithString(url)); }

class TRAAdRouterTest : public TrilliumScreenTest {
protected:
    // Shows a page of two plain ads (the second with a d parameter) and
    // moves the clock 3.25 s on.
    Ref<TRAAdViewController> showTwoAds(std::vector<bool> browser = {false, false}) {
        ad = loadAd(adPage({chains.landingUrl() + "?index=0", chains.landingUrl() + "?d=ld1&x=y&index=1"}, {false, false},
                           std::move(browser)));
        auto screen = showAd(ad);
        EXPECT_NE(screen, nullptr);
        driver().advance(3.25);
        return screen;
    }
    std::vector<TrilliumRequest> clickReports() {
        EXPECT_TRUE(driver().settle(10));
        return service.requestsTo(TrilliumService::kClickPath);
    }

    Ref<TRATrilliumAd> ad;
};

TEST(TRAAdIndexTest, TheIndexComesFromTheLastPiece) {
    auto index = [](const std::string& url) {
        return TRAAdViewController::adIndexInUrl(url, NSString::rangeOfString(url, "index="));
    };
    EXPECT_EQ(index("http://a/b"), 0);
    EXPECT_EQ(index("http://a/b?x=1&index=2"), 2);
    EXPECT_EQ(index("http://a/b?index=2&x=7"), 7);  // the last piece's value, wherever "index=" stands
    EXPECT_EQ(index("http://a/b?index=2&x=abc"), 0);
    EXPECT_EQ(index("http://a/b?index=99999999999999999999"), INT32_MAX);
    EXPECT_EQ(index("http://a/b?index=-3"), -3);
    EXPECT_EQ(index("http://a/b?index=2&flag"), std::nullopt);
}

TEST_F(TRAAdRouterTest, BlankPagesAndCommandsBeforeTheFirstLoadAndOnAScreenNotShown) {
    auto html = std::dynamic_pointer_cast<TRAHtmlAd>(loadAd(simplePage())->internalAd());
    auto screen = TRAAdViewController::alloc()->init();
    screen->initWithAd(html, nullptr, std::nullopt);
    auto route = [&](const std::string& url) { return screen->webViewShouldStartLoadWithRequest(nullptr, *TRARouterRequest(url), UIWebViewNavigationTypeOther); };
    EXPECT_FALSE(screen->webViewShouldStartLoadWithRequest(nullptr, NSURLRequest(), UIWebViewNavigationTypeOther));
    EXPECT_FALSE(route("about:blank"));
    EXPECT_FALSE(route("trilliumad://contentLoaded"));
    EXPECT_TRUE(screen->firstLoad());
    EXPECT_TRUE(route("trilliumad://unknownCommand"));  // another command is an ordinary navigation
    EXPECT_FALSE(screen->firstLoad());

    // Not on display: no clicks, and "closeAd" only detaches the page.
    EXPECT_FALSE(route(chains.landingUrl() + "?index=0"));
    EXPECT_FALSE(route("trilliumad://externalLinks/" + chains.landingUrl()));
    EXPECT_EQ(screen->webView()->delegate(), screen);
    EXPECT_FALSE(route("trilliumad://closeAd"));
    EXPECT_EQ(screen->webView()->delegate(), nullptr);
    EXPECT_TRUE(driver().settle(5));
    EXPECT_TRUE(service.requestsTo(TrilliumService::kClickPath).empty());
    EXPECT_TRUE(service.requestsTo(TrilliumService::kClosePath).empty());
    EXPECT_TRUE(openedURLs().empty());
}

TEST_F(TRAAdRouterTest, TwoClickModeReportsTheClickAndSendsTheUserToThePageTarget) {
    auto screen = showTwoAds();
    tap(screen->webView(), "ad1");
    auto reports = clickReports();
    ASSERT_EQ(reports.size(), 1u);
    std::string target = reports[0].request.target;
    EXPECT_EQ(target.substr(0, target.find("&ts=")), "/1.3/trackclick?d=click1&displayDuration=3.250");
    EXPECT_TRUE(TrilliumService::signatureMatches(reports[0], kTestDevId, kTestAppId));
    EXPECT_EQ(openedURLs(), std::vector<std::string>{chains.landingUrl() + "?d=ld1&x=y&index=1"});
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didShowAd", "didClickAd"}));
    EXPECT_FALSE(screen->isPresented());
}

TEST_F(TRAAdRouterTest, WithTwoClicksDisabledTheTargetCarriesTheDurationAndSignature) {
    setSwitch("TRADisableTwoClicks", Value(1));
    auto screen = showTwoAds();
    tap(screen->webView(), "ad1");
    EXPECT_TRUE(clickReports().empty());
    auto opened = openedURLs();
    ASSERT_EQ(opened.size(), 1u);
    std::string expectedPrefix = chains.landingUrl() + "?d=ld1&x=y&index=1&displayDuration=3.250&ts=";
    EXPECT_EQ(opened[0].substr(0, expectedPrefix.size()), expectedPrefix);
    std::string query = opened[0].substr(opened[0].find('?') + 1);
    TrilliumRequest signedTarget{simulator::RecordedRequest{}, TrilliumService::parseQuery(query)};
    signedTarget.request.target = opened[0].substr(opened[0].find("/landing"));
    EXPECT_TRUE(TrilliumService::signatureMatches(signedTarget, kTestDevId, kTestAppId));
}

TEST_F(TRAAdRouterTest, TheBrowserSwitchesDecideBetweenTheInAppBrowserAndTheSystem) {
    // The ad allows the browser, the configuration does not: the system opens it.
    setSwitch("TRATrilliumBrowserEnabled", Value(0));
    auto screen = showTwoAds({true, true});
    tap(screen->webView(), "ad0");
    EXPECT_EQ(openedURLs(), std::vector<std::string>{chains.landingUrl() + "?index=0"});
    EXPECT_EQ(browser(), nullptr);
}

TEST_F(TRAAdRouterTest, ATargetNothingOpensIsReportedAndAWebPageLoadsInsideTheAd) {
    auto screen = showTwoAds();
    UIApplication::sharedApplication()->setCanOpenScheme("http", false);
    tap(screen->webView(), "ad0");
    EXPECT_TRUE(driver().settle(10));
    EXPECT_TRUE(screen->isPresented());
    EXPECT_EQ(screen->webView()->request()->URL()->absoluteString(), chains.landingUrl() + "?index=0");
    auto events = analyticsEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].category, "4");
    EXPECT_EQ(events[0].value, "Can't open url");
    EXPECT_EQ(events[0].details, chains.landingUrl() + "?index=0");
    EXPECT_EQ(clickReports().size(), 1u);
}

TEST_F(TRAAdRouterTest, AnOtherSchemeNothingOpensIsReportedAndRefused) {
    ad = loadAd(adPage({"trilliumgame://open?index=0"}, {false}, {false}));
    auto screen = showAd(ad);
    ASSERT_NE(screen, nullptr);
    tap(screen->webView(), "ad0");
    EXPECT_TRUE(screen->isPresented());
    EXPECT_EQ(analyticsValues(), std::vector<std::string>{"Can't open url"});
    EXPECT_EQ(publisher->events, std::vector<std::string>{"didShowAd"});  // no load failure follows
}

TEST_F(TRAAdRouterTest, ARedirectedClickStartsTheFollowerWithTheScreensArguments) {
    ad = loadAd(adPage({chains.chainUrl("redirects", "index=0")}, {true}, {true}));
    auto screen = showAd(ad);
    ASSERT_NE(screen, nullptr);
    tap(screen->webView(), "ad0");
    auto walk = TRASmartRedirectWebView::currentWalk();
    ASSERT_NE(walk, nullptr);
    EXPECT_EQ(screen->webView()->delegate(), nullptr);
    EXPECT_NE(screen->view()->viewWithTag(TRASmartRedirectWebView::kSpinnerTag), nullptr);
    EXPECT_TRUE(screen->isPresented());  // until the walk ends
    ASSERT_EQ(clickReports().size(), 1u);

    // The chain ends on a landing page that stays: after the time-out the
    // screen closes as a click and the browser shows the page.
    driver().advance(7);
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didShowAd", "didClickAd"}));
    ASSERT_NE(browser(), nullptr);
    EXPECT_EQ(browser()->webViewURL(), chains.landingUrl());
    auto events = analyticsEvents();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().value, "Timeout");
    EXPECT_EQ(events.back().d, "click0");
}

TEST_F(TRAAdRouterTest, AClickTheBusyFollowerRefusesLeavesTheAdUsable) {
    ad = loadAd(adPage({chains.chainUrl("redirects", "index=0")}, {true}, {true}));
    auto screen = showAd(ad);
    ASSERT_NE(screen, nullptr);
    ASSERT_TRUE(TRASmartRedirectWebView::startSmartRedirect(*TRARouterRequest(chains.landingUrl()), nullptr,
                                                            nullptr, nullptr, false, "", false));
    auto other = TRASmartRedirectWebView::currentWalk();
    tap(screen->webView(), "ad0");
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), other);
    EXPECT_EQ(screen->webView()->delegate(), screen);
    EXPECT_TRUE(clickReports().empty());
    EXPECT_TRUE(screen->isPresented());

    // Once that walk has ended the same click goes through.
    driver().advance(7);
    tap(screen->webView(), "ad0");
    EXPECT_NE(TRASmartRedirectWebView::currentWalk(), nullptr);
    EXPECT_EQ(clickReports().size(), 1u);
}

TEST_F(TRAAdRouterTest, AnIndexTheListsDoNotReachIsRefusedWithoutReport) {
    ad = loadAd(adPage({chains.landingUrl() + "?index=3", chains.landingUrl() + "?index=0&flag"}, {false}, {true}));
    auto screen = showAd(ad);
    ASSERT_NE(screen, nullptr);
    expectLogLine("Ad click refused");
    tap(screen->webView(), "ad0");
    tap(screen->webView(), "ad1");
    EXPECT_TRUE(screen->isPresented());
    EXPECT_TRUE(clickReports().empty());
    EXPECT_TRUE(openedURLs().empty());
    EXPECT_EQ(publisher->events, std::vector<std::string>{"didShowAd"});
}

TEST_F(TRAAdRouterTest, AnExternalLinkOpensAndTheAdStays) {
    ad = loadAd(adPage({chains.landingUrl() + "?index=0"}, {false}, {false}, chains.detailsUrl() + "?index=0"));
    auto screen = showAd(ad);
    ASSERT_NE(screen, nullptr);
    tap(screen->webView(), "external");
    EXPECT_EQ(openedURLs(), std::vector<std::string>{chains.detailsUrl() + "?index=0"});
    EXPECT_TRUE(screen->isPresented());
    EXPECT_TRUE(clickReports().empty());
    EXPECT_TRUE(service.requestsTo(TrilliumService::kClosePath).empty());
    EXPECT_EQ(publisher->events, std::vector<std::string>{"didShowAd"});
}

}  // namespace

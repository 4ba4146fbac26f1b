// The banner page's router against the service: blank pages, the page's own
// load, "contentLoaded", the tapped ad's index and its checks, two-click mode
// on and off with the exact report and target, and the routes to the click
// follower (a fresh load follows; a busy follower drops the tap), the in-app
// browser, the system, and analytics before a load inside the banner; the
// store sheet's close, a walk that outlives its banner, and a page looping on
// taps (each still acts; the refusals' lines fold).
#include <algorithm>

#include "Trillium/display/tests/TrilliumBannerTestSupport.h"
#include "platform/web/JSVirtualMachine.h"

namespace {

using platform::testing::StoreSheet;
using simulator::TrilliumService;

class TRABannerRouterTest : public TrilliumBannerTest {
protected:
    // Serves one banner page linking to `target` with these lists and shows it.
    Ref<TRABannerView> showPage(const std::string& target, std::vector<bool> smartRedirect, std::vector<bool> browser,
                                std::vector<std::string> clickTrackings = {"bclick1"}) {
        simulator::TrilliumBannerPage page = simulator::TrilliumBannerAds::defaultBannerPages()[0];
        page.target = target;
        page.lists.smartRedirect = std::move(smartRedirect);
        page.lists.trilliumBrowserEnabled = std::move(browser);
        page.lists.clickTrackings = std::move(clickTrackings);
        banners.setBannerPages({page});
        auto banner = makeBanner();
        showFirstPage(banner);
        EXPECT_FALSE(banner->isHidden());
        return banner;
    }
    bool route(const Ref<TRABannerView>& banner, const std::string& url) {
        auto request = NSURLRequest::requestWithURL(NSURL::URLWithString(url));
        return banner->webViewShouldStartLoadWithRequest(banner->webView(), *request, UIWebViewNavigationTypeLinkClicked);
    }
    std::string landing(const std::string& query) const { return chains.landingUrl() + "?" + query; }
};

TEST_F(TRABannerRouterTest, BlankIsRefusedThePagePassesAndEveryLaterNavigationIsATap) {
    auto banner = showPage(landing("index=0"), {false}, {false});
    EXPECT_FALSE(route(banner, "about:blank"));
    EXPECT_FALSE(banner->webViewShouldStartLoadWithRequest(banner->webView(), NSURLRequest(),
                                                           UIWebViewNavigationTypeOther));
    // The page's own load (the base URL) passes; "contentLoaded" is refused
    // before it and a tap after it.
    EXPECT_TRUE(route(banner, service.baseUrl()));
    EXPECT_FALSE(route(banner, "trilliumad://contentLoaded"));
    EXPECT_EQ(listener->events, (std::vector<std::string>{"display", "click"}));
    EXPECT_TRUE(clickReports().empty());
}

TEST_F(TRABannerRouterTest, TwoClickModeReportsTheClickAndOpensThePageTargetInTheBrowser) {
    auto banner = showPage(landing("index=0"), {false}, {true});
    tap(banner->webView(), "ad0");
    auto reports = clickReports();
    ASSERT_EQ(reports.size(), 1u);
    const std::string& report = reports[0].request.target;
    EXPECT_EQ(report.substr(0, report.find("&ts=")), "/1.3/trackclick?d=bclick1");
    EXPECT_TRUE(TrilliumService::signatureMatches(reports[0], kTestDevId, kTestAppId));
    ASSERT_NE(browser(), nullptr);
    EXPECT_EQ(browser()->webViewURL(), landing("index=0"));
    EXPECT_EQ(listener->events, (std::vector<std::string>{"display", "click"}));
    EXPECT_EQ(bannerRequests().size(), 1u);
}

TEST_F(TRABannerRouterTest, WithTwoClicksOffTheTargetCarriesTheSignatureAndTheSystemOpensIt) {
    auto banner = showPage(landing("d=bl1&index=0"), {false}, {false});
    setSwitch("TRADisableTwoClicks", 1);  // after the configuration came
    tap(banner->webView(), "ad0");
    EXPECT_TRUE(clickReports().empty());
    auto opened = openedURLs();
    ASSERT_EQ(opened.size(), 1u);
    std::string prefix = landing("d=bl1&index=0") + "&ts=";
    EXPECT_EQ(opened[0].substr(0, prefix.size()), prefix);
    EXPECT_NE(opened[0].find("&sig="), std::string::npos);
}

TEST_F(TRABannerRouterTest, AFollowedTapWalksReportsAndStartsAFreshLoadABusyFollowerDropsIt) {
    auto banner = showPage(chains.chainUrl("redirects", "d=bw1&index=0"), {true}, {true});
    auto other = NSURLRequest::requestWithURL(NSURL::URLWithString(chains.chainUrl("never")));
    ASSERT_TRUE(TRASmartRedirectWebView::startSmartRedirect(*other, window(), nullptr, nullptr, false, "", false));
    tap(banner->webView(), "ad0");  // dropped: no callback, no report, no load
    EXPECT_EQ(listener->events, (std::vector<std::string>{"display"}));
    driver().advance(10);  // the other walk times out
    ASSERT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);
    if (auto top = browser()) top->dismissViewControllerAnimated(false, nullptr);
    driver().drain();

    tap(banner->webView(), "ad0");
    EXPECT_NE(TRASmartRedirectWebView::currentWalk(), nullptr);
    EXPECT_EQ(listener->events, (std::vector<std::string>{"display", "click"}));
    ASSERT_EQ(clickReports().size(), 1u);
    ASSERT_TRUE(finishLoad(banner, 1));  // the tap started a fresh load
    // The walk stalls on the landing page and ends at its time-out in the in-app browser.
    driver().advance(10);
    ASSERT_NE(browser(), nullptr);
    EXPECT_EQ(browser()->webViewURL(), chains.landingUrl());
    std::vector<std::string> walkDs;
    for (const auto& e : analyticsEvents())
        if (e.category == "3") walkDs.push_back(e.d.value_or(""));
    EXPECT_EQ(walkDs, (std::vector<std::string>{"", "bclick1"}));
}

TEST_F(TRABannerRouterTest, AWalkUnderWayKeepsOnlyTheProxyOfAReleasedBanner) {
    auto banner = showPage(chains.chainUrl("redirects", "d=bw1&index=0"), {true}, {true});
    tap(banner->webView(), "ad0");
    ASSERT_NE(TRASmartRedirectWebView::currentWalk(), nullptr);
    Weak<TRABannerView> weak = banner;
    banner->removeFromSuperview();
    banner.reset();
    EXPECT_TRUE(weak.expired());
    driver().advance(10);  // the walk ends at its time-out: its exit reaches no banner, no browser opens
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);
    EXPECT_EQ(browser(), nullptr);
    EXPECT_EQ(listener->events, (std::vector<std::string>{"display", "click"}));
}

TEST_F(TRABannerRouterTest, AStoreSheetOpenedByATapTellsTheDelegateWhenItCloses) {
    auto banner = showPage(chains.chainUrl("storeweb", "index=0"), {true}, {false});
    setSwitch("TRAInAppStoreEnabled", 1);  // after the configuration came
    StoreSheet::setNextResult(StoreSheet::Loads);
    tap(banner->webView(), "ad0");
    ASSERT_TRUE(waitFor([&] { return storeSheet() != nullptr; }));
    // The tap's fresh load is shown while the sheet is up: its page comes over the network, so
    // the user closes the sheet once it is revealed.
    ASSERT_TRUE(finishLoad(banner, 1));
    driver().advance(TRABannerView::kRevealDelay);
    StoreSheet::simulateUserClose(storeSheet());
    driver().advance(1);
    EXPECT_EQ(listener->events, (std::vector<std::string>{"display", "click", "display", "storeClosed"}));
}

TEST_F(TRABannerRouterTest, ATargetNothingOpensIsReportedThenLoadedInsideTheBanner) {
    auto banner = showPage("trilliumgame://level/1?index=0", {false}, {false});
    EXPECT_TRUE(route(banner, "trilliumgame://level/1?index=0"));
    auto events = analyticsEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].category, "4");
    EXPECT_EQ(events[0].value, "Can't open url");
    EXPECT_EQ(events[0].details, "trilliumgame://level/1?index=0");
    EXPECT_TRUE(openedURLs().empty());
}

TEST_F(TRABannerRouterTest, TheIndexComesFromTheLastItemAndMustBeInTheLists) {
    auto banner = showPage(landing("index=0"), {false, false}, {false, false}, {"bclick1", "bclick2"});
    EXPECT_FALSE(route(banner, landing("index=1")));
    EXPECT_FALSE(route(banner, landing("index=1&x=0")));  // the last item's value: 0
    expectLogLine("Banner tap refused");
    EXPECT_FALSE(route(banner, landing("index=2")));
    EXPECT_FALSE(route(banner, landing("index=-1")));
    EXPECT_FALSE(route(banner, landing("index=1&flag")));
    std::vector<std::string> ds;
    for (const auto& r : clickReports()) ds.push_back(r.field("d").value_or(""));
    std::sort(ds.begin(), ds.end());  // sent one after the other, they may arrive in either order
    EXPECT_EQ(ds, (std::vector<std::string>{"bclick1", "bclick2"}));
    EXPECT_EQ(openedURLs().size(), 2u);
    EXPECT_EQ(listener->events, (std::vector<std::string>{"display", "click", "click"}));
}

// 10,000 navigations in one turn (as many as may wait): a tap the lists refuse, then "contentLoaded"; then one of
// each every 10 ms for a minute.
TEST_F(TRABannerRouterTest, APageLoopingOnTapsIsHeardButWritesAFewLinesPerKind) {
    JSVirtualMachine::setExecutionTimeLimit(platform::testing::hangGuard(10));
    setConfigFields("\"refreshRate\": 3600000");  // the page stays up throughout
    auto banner = showPage(landing("index=0"), {false}, {false});
    const std::string taps =
        "location.href = '" + landing("index=7") + "'; location.href = 'trilliumad://contentLoaded';";
    auto evaluate = [&](const std::string& script) {
        return banner->webView()->stringByEvaluatingJavaScriptFromString(script);
    };
    auto clicks = [&] { return std::count(listener->events.begin(), listener->events.end(), "click"); };
    const size_t before = logCapture().messages().size();
    expectLogLine("Banner tap refused");

    evaluate("for (var i = 0; i < 5000; i++) {" + taps + "}");
    ASSERT_TRUE(driver().settle(10));
    EXPECT_EQ(clicks(), 5000);
    EXPECT_EQ(logCapture().count("(5000 in all)"), 1u);

    driver().advance(11);
    evaluate("var ticks = 0; var timer = setInterval(function () { ticks++;" + taps + "}, 10);");
    driver().advance(60);
    const int ticks = std::stoi(evaluate("clearInterval(timer); String(ticks)"));
    EXPECT_GE(ticks, 5000);
    driver().advance(30);
    EXPECT_EQ(clicks(), 5000 + ticks);
    const auto all = logCapture().messages();
    const std::vector<std::string> lines(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    EXPECT_EQ(foldedCount(lines, "Banner tap refused"), 5000u + static_cast<size_t>(ticks));
    // The turn's line, then the timer's first line and six or seven counts.
    EXPECT_LE(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.find("Trillium: ") != std::string::npos; }),
              9);
    expectBoundedLogLines();
}

}  // namespace

// The click follower against the click chains of the Trillium service: every
// way a walk ends (another app's scheme, the store through the system or the
// store sheet, which loads, fails, is closed, is missing or never answers, a
// web view error, the three time-out branches with and without the in-app
// browser), one walk at a time, the hop statistics, their formats on the
// virtual clock and their order at a server that answers late, and hostile chains (endless redirects, navigation storms,
// pages that never finish, huge URLs), which all end.
#include <algorithm>

#include "Trillium/TRAAdCache.h"
#include "Trillium/display/tests/TrilliumScreenTestSupport.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/net/NetworkConditions.h"
#include "platform/runtime/Clock.h"

namespace {

using platform::testing::StoreSheet;
using simulator::Answer;
using simulator::TrilliumClickChains;

class TRAFollowerTestDelegate : public NSObject, public TRASmartRedirectWebViewDelegate {
public:
    void didExitWebViewWithInAppBrowser(const std::optional<std::string>& url) override {
        events.push_back("exit:" + url.value_or("nil"));
    }
    void didFinishWithError(const Ref<NSError>& error) override {
        events.push_back("error:" + std::to_string(error ? error->code() : 0));
    }
    void allowAutoRotate() override { events.push_back("allowAutoRotate"); }
    void didCloseInAppStore() override { events.push_back("closeStore"); }
    PLATFORM_RESPONDS_TO("didExitWebViewWithInAppBrowser:", "didFinishWithError:", "allowAutoRotate",
                         "didCloseInAppStore")

    std::vector<std::string> events;
};

class TRASmartRedirectWebViewTest : public TrilliumScreenTest {
protected:
    void SetUp() override {
        TrilliumScreenTest::SetUp();
        adView = rootViewController()->view();
    }
    // Starts a walk over the root view; lets its chain run as far as the network takes it.
    bool start(const std::string& url, bool browserAllowed = true) {
        bool accepted = TRASmartRedirectWebView::startSmartRedirect(
            *NSURLRequest::requestWithURL(NSURL::URLWithString(url)), adView, delegate, delegate, true, "dp1",
            browserAllowed);
        walk = TRASmartRedirectWebView::currentWalk();
        EXPECT_TRUE(driver().settle(10));
        return accepted;
    }
    std::vector<std::string> hopUrls() const {
        std::vector<std::string> urls;
        for (const auto& hop : walk->hops()) urls.push_back(hop.url);
        return urls;
    }
    TrilliumAnalyticsEvent event(const std::vector<TrilliumAnalyticsEvent>& events, const std::string& value) {
        for (const auto& e : events)
            if (e.value == value) return e;
        ADD_FAILURE() << "no analytics event " << value;
        return {};
    }
    static void sampleEveryWalk() {
        setSwitch("TRAAnalyticsSendHopsStatsOnceInXClicks", Value(1));
        setSwitch("TRAAnalyticsSendHopLatencyOnceInXClicks", Value(1));
    }

    Ref<UIView> adView;
    Ref<TRAFollowerTestDelegate> delegate = NSObject::alloc<TRAFollowerTestDelegate>();
    Ref<TRASmartRedirectWebView> walk;
};

TEST_F(TRASmartRedirectWebViewTest, ALandingPageThatStaysEndsAtTheTimeOutWithItsStatistics) {
    sampleEveryWalk();
    ASSERT_TRUE(start(chains.chainUrl("redirects")));
    EXPECT_NE(adView->viewWithTag(TRASmartRedirectWebView::kSpinnerTag), nullptr);
    EXPECT_EQ(hopUrls(), (std::vector<std::string>{chains.chainUrl("redirects"), chains.chainUrl("redirects/2"),
                                                   chains.chainUrl("redirects/3"), chains.landingUrl()}));
    // A second click while this one walks is dropped without a word.
    auto quiet = NSObject::alloc<TRAFollowerTestDelegate>();
    EXPECT_FALSE(TRASmartRedirectWebView::startSmartRedirect(*NSURLRequest::requestWithURL(NSURL::URLWithString(
                                                                 chains.landingUrl())),
                                                             adView, quiet, quiet, true, "", true));
    driver().advance(6.9);
    EXPECT_TRUE(delegate->events.empty());
    driver().advance(0.1);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:" + chains.landingUrl()}));
    EXPECT_TRUE(quiet->events.empty());
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);
    EXPECT_EQ(adView->viewWithTag(TRASmartRedirectWebView::kSpinnerTag), nullptr);
    EXPECT_TRUE(openedURLs().empty());

    auto events = analyticsEvents();
    ASSERT_EQ(events.size(), 4u);  // three statistics and the time-out; no slow hop
    auto details = event(events, "Timeout Hops details");
    EXPECT_EQ(details.category, "5");
    EXPECT_EQ(details.d, "dp1");
    EXPECT_EQ(details.details, chains.chainUrl("redirects") + ";0.00," + chains.chainUrl("redirects/2") + ";0.00," +
                                    chains.chainUrl("redirects/3") + ";0.00," + chains.landingUrl() + ";7.00");
    EXPECT_EQ(event(events, "Timeout Hops total").details, "4");
    EXPECT_EQ(event(events, "Timeout Hops longest").details, "7.00-" + chains.landingUrl());
    EXPECT_EQ(event(events, "Timeout").category, "3");
    EXPECT_EQ(event(events, "Timeout").details, chains.landingUrl());
}

TEST_F(TRASmartRedirectWebViewTest, TheTimeOutOpensTheLastPageItselfWhenTheBrowserIsNotAllowed) {
    ASSERT_TRUE(start(chains.landingUrl(), false));
    driver().advance(7);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:nil"}));
    EXPECT_EQ(openedURLs(), std::vector<std::string>{chains.landingUrl()});

    // The page then asked for something nothing opens: the page itself is handed over.
    delegate->events.clear();
    ASSERT_TRUE(start(chains.landingUrl()));
    walk->smartWebView()->stringByEvaluatingJavaScriptFromString("location.href = 'trilliumgame://level/2'");
    driver().drain();
    driver().advance(7);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:" + chains.landingUrl()}));
    auto values = analyticsValues();
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<std::string>{"Timeout", "Timeout open orig url", "URL Scheme can't open"}));

    // Nothing opens at all.
    delegate->events.clear();
    UIApplication::sharedApplication()->setCanOpenScheme("http", false);
    ASSERT_TRUE(start(chains.landingUrl()));
    driver().advance(7);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:nil"}));
    EXPECT_EQ(analyticsValues().back(), "Can't open url after timeout");
}

TEST_F(TRASmartRedirectWebViewTest, AnotherAppsSchemeEndsTheWalkWhenSomethingOpensIt) {
    UIApplication::sharedApplication()->setCanOpenScheme("trilliumgame", true);
    ASSERT_TRUE(start(chains.chainUrl("scheme")));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:nil"}));
    EXPECT_EQ(openedURLs(), std::vector<std::string>{TrilliumClickChains::kOtherSchemeTarget});
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);
    EXPECT_EQ(analyticsValues(), std::vector<std::string>{"URL Scheme open"});
}

TEST_F(TRASmartRedirectWebViewTest, AStoreLinkGoesToTheSystemAfterAOneSecondPauseWithoutTheInAppStore) {
    sampleEveryWalk();
    double before = platform::Clock::current()->uptime();
    ASSERT_TRUE(start(chains.chainUrl("store")));
    EXPECT_DOUBLE_EQ(platform::Clock::current()->uptime() - before, 1.0);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:nil"}));
    EXPECT_EQ(openedURLs(), std::vector<std::string>{TrilliumClickChains::storeUrl()});
    auto events = analyticsEvents();
    EXPECT_EQ(event(events, "Hops details").details,
              chains.chainUrl("store") + ";1.00," + TrilliumClickChains::storeUrl() + ";0.00");
    EXPECT_EQ(event(events, "Hops longest").details, "1.00-" + chains.chainUrl("store"));
}

TEST_F(TRASmartRedirectWebViewTest, TheStoreSheetShowsUntilTheUserClosesIt) {
    setSwitch("TRAInAppStoreEnabled", Value(1));
    StoreSheet::setNextResult(StoreSheet::Loads);
    ASSERT_TRUE(start(chains.chainUrl("storeweb")));
    driver().drain();
    ASSERT_EQ(StoreSheet::loadedParameters().size(), 1u);
    EXPECT_EQ(StoreSheet::loadedParameters()[0]["id"].stringValue(), TrilliumClickChains::kStoreProductId);
    EXPECT_EQ(delegate->events, std::vector<std::string>{"exit:nil"});  // no allowAutoRotate here
    auto sheet = storeSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_FALSE(TRAAdCache::sharedInstance()->allowAutoRotate());
    driver().advance(30);  // the time-out no longer runs
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), walk);

    StoreSheet::simulateUserClose(sheet);
    driver().advance(1);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"exit:nil", "closeStore"}));
    EXPECT_TRUE(TRAAdCache::sharedInstance()->allowAutoRotate());
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);
    EXPECT_EQ(topController(), rootViewController());
    EXPECT_TRUE(openedURLs().empty());
}

TEST_F(TRASmartRedirectWebViewTest, AStoreSheetThatFailsOrIsMissingFallsBackToTheSystem) {
    setSwitch("TRAInAppStoreEnabled", Value(1));
    StoreSheet::setNextResult(StoreSheet::Fails);
    ASSERT_TRUE(start(chains.chainUrl("store")));
    driver().drain();
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:nil"}));
    EXPECT_EQ(openedURLs(), std::vector<std::string>{TrilliumClickChains::storeUrl()});
    auto events = analyticsEvents();
    EXPECT_EQ(event(events, "inAppStore Error").details, TrilliumClickChains::storeUrl());
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);

    delegate->events.clear();
    NSClassRegistry::hideClassForTesting("SKStoreProductViewController");
    ASSERT_TRUE(start(chains.chainUrl("store")));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:nil"}));
    EXPECT_EQ(openedURLs().size(), 2u);
    EXPECT_EQ(StoreSheet::loadedParameters().size(), 1u);
}

// A store link of 1 MiB that names a password, whose sheet loads but cannot
// be shown (the screen's top controller is busy presenting), goes to the
// system; every line shows it short and without the password.
TEST_F(TRASmartRedirectWebViewTest, AStoreSheetFallbackLogsTheLinkShortAndWithoutItsPassword) {
    setSwitch("TRAInAppStoreEnabled", Value(1));
    StoreSheet::setNextResult(StoreSheet::Loads);
    auto covering = UIViewController::alloc()->init();
    rootViewController()->presentViewController(covering, false, nullptr);
    covering->presentViewController(UIViewController::alloc()->init(), false, nullptr);
    driver().drain();
    expectLogLine("The store sheet could not be shown; ");
    const std::string link = hostileURL(TrilliumClickChains::storeUrl());
    ASSERT_TRUE(start(link));
    driver().drain();
    EXPECT_EQ(openedURLs(), std::vector<std::string>{link});
    EXPECT_TRUE(logCapture().contains("goes to the system"));
    expectBoundedLogLines();
}

TEST_F(TRASmartRedirectWebViewTest, AStoreSheetThatNeverAnswersEndsAtTheTimeOutAndItsLateLoadChangesNothing) {
    setSwitch("TRAInAppStoreEnabled", Value(1));
    StoreSheet::hold();
    ASSERT_TRUE(start(chains.chainUrl("store"), false));
    driver().advance(7);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:nil"}));
    EXPECT_EQ(openedURLs(), std::vector<std::string>{TrilliumClickChains::storeUrl()});
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);
    StoreSheet::completePending(true);
    driver().advance(1);
    EXPECT_EQ(topController(), rootViewController());
    EXPECT_TRUE(TRAAdCache::sharedInstance()->allowAutoRotate());
    EXPECT_EQ(delegate->events.size(), 2u);
}

TEST_F(TRASmartRedirectWebViewTest, WebViewErrorsEndTheWalkOrAreOnlyReported) {
    // Cannot show a URL (101): reported, the walk goes on.
    ASSERT_TRUE(start(chains.landingUrl()));
    walk->webViewDidFailLoadWithError(
        walk->smartWebView(), NSError::errorWithDomain(WebKitErrorDomain, 101,
                                                       Value::dictionary({{NSErrorFailingURLStringKey, "odd://x"}})));
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), walk);
    auto events = analyticsEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].value, "Warning: Can't open url");
    EXPECT_EQ(events[0].details, "odd://x");
    driver().advance(7);

    // A dropped connection ends it: reported, the delegate told, the last URL opened.
    delegate->events.clear();
    ASSERT_TRUE(start(chains.chainUrl("drop")));
    EXPECT_EQ(delegate->events, std::vector<std::string>{"error:-1005"});
    EXPECT_EQ(openedURLs().back(), chains.chainUrl("drop"));
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);
    auto error = event(analyticsEvents(), "WebView Error: -1005");
    EXPECT_EQ(error.details.value_or("").rfind("Error: ", 0), 0u);
    EXPECT_NE(error.details.value_or("").find(", Url: " + chains.chainUrl("drop")), std::string::npos);

    // Without a network the failure is not reported.
    size_t reported = analyticsEvents().size();
    platform::testing::NetworkConditions::set(platform::NetworkState::None);
    delegate->events.clear();
    ASSERT_TRUE(start(chains.landingUrl()));
    EXPECT_EQ(delegate->events, std::vector<std::string>{"error:-1009"});
    platform::testing::NetworkConditions::set(platform::NetworkState::WiFi);
    EXPECT_EQ(analyticsEvents().size(), reported);
}

TEST_F(TRASmartRedirectWebViewTest, HopStatisticsEscapeTheirSeparatorsAndSkipASlowHopOfExactlyTheMaximum) {
    sampleEveryWalk();
    setSwitch("TRASmartRedirectTimeout", Value(60));
    std::string odd = chains.landingUrl() + "?a=1,2;3";
    ASSERT_TRUE(start(odd, false));
    driver().advance(30);  // the landing hop lasts exactly the maximum
    walk->smartWebView()->stringByEvaluatingJavaScriptFromString("location.href = '" + chains.detailsUrl() + "'");
    ASSERT_TRUE(driver().settle(10));
    driver().advance(30.5);  // the last hop is slower
    auto events = analyticsEvents();
    EXPECT_EQ(event(events, "Timeout Hops details").details,
              chains.landingUrl() + "?a=1%2C2%3B3;30.00," + chains.detailsUrl() + ";30.00");
    std::vector<std::string> slow;
    for (const auto& e : events)
        if (e.value.find("Hop latency max time") != std::string::npos) slow.push_back(e.value + "|" + e.details.value_or(""));
    EXPECT_TRUE(slow.empty()) << slow.front();
}

TEST_F(TRASmartRedirectWebViewTest, OnlyTheLastSlowHopOfATimedOutWalkCarriesTheTimeoutPrefix) {
    sampleEveryWalk();
    setSwitch("TRASmartRedirectTimeout", Value(100));
    ASSERT_TRUE(TRASmartRedirectWebView::startSmartRedirect(
        *NSURLRequest::requestWithURL(NSURL::URLWithString(chains.chainUrl("slow"))), adView, delegate, delegate, true,
        "", false));
    ASSERT_TRUE(driver().runUntil([&] { return service.server().stalledCount() == 1; }, 5));
    driver().advance(31);
    service.server().releaseStalled();
    ASSERT_TRUE(driver().settle(10));
    driver().advance(69);
    std::vector<std::string> slow;
    for (const auto& e : analyticsEvents())
        if (e.value.find("Hop latency max time") != std::string::npos) slow.push_back(e.value + "|" + e.details.value_or(""));
    std::sort(slow.begin(), slow.end());
    EXPECT_EQ(slow, (std::vector<std::string>{"Hop latency max time|" + chains.chainUrl("slow") + "-31.00",
                                              "Timeout Hop latency max time|" + chains.landingUrl() + "-69.00"}));
}

TEST_F(TRASmartRedirectWebViewTest, TheThreeStatisticsReachTheServerOneAfterTheOther) {
    setSwitch("TRAAnalyticsSendHopsStatsOnceInXClicks", Value(1));
    // The first is answered late and the second fails: the order holds all the same.
    service.server().route("GET", simulator::TrilliumService::kAnalyticsPath, [](const simulator::RecordedRequest& r) {
        if (r.target.find("value=Hops%20details&") != std::string::npos) return Answer::stall();
        if (r.target.find("value=Hops%20total&") != std::string::npos) return Answer::drop();
        return Answer::ok();
    });
    auto values = [&] {
        std::vector<std::string> list;
        for (const auto& r : service.requestsTo(simulator::TrilliumService::kAnalyticsPath))
            list.push_back(r.field("value").value_or(""));
        return list;
    };
    ASSERT_TRUE(TRASmartRedirectWebView::startSmartRedirect(
        *NSURLRequest::requestWithURL(NSURL::URLWithString(chains.chainUrl("store"))), adView, delegate, delegate, true,
        "dp1", false));
    ASSERT_TRUE(driver().runUntil([&] { return service.server().stalledCount() == 1; }, 5));
    // Nothing more goes while the first waits for its answer.
    EXPECT_FALSE(driver().runUntil([&] { return values().size() > 1; }, 0.5));
    service.server().releaseStalled();
    ASSERT_TRUE(driver().runUntil([&] { return values().size() == 3; }, 5));
    EXPECT_EQ(values(), (std::vector<std::string>{"Hops details", "Hops total", "Hops longest"}));
}

TEST_F(TRASmartRedirectWebViewTest, HostileChainsAllEnd) {
    // Endless redirects: the web view gives up and the walk ends on its error.
    ASSERT_TRUE(start(chains.chainUrl("loop")));
    EXPECT_EQ(delegate->events, std::vector<std::string>{"error:-1007"});

    // A navigation storm and a page that never finishes end at the time-out.
    for (const char* chain : {"storm", "never"}) {
        delegate->events.clear();
        TRASmartRedirectWebView::startSmartRedirect(*NSURLRequest::requestWithURL(NSURL::URLWithString(chains.chainUrl(chain))),
                                                    adView, delegate, delegate, true, "", false);
        walk = TRASmartRedirectWebView::currentWalk();
        driver().runUntil([] { return false; }, 0.5);
        EXPECT_LE(walk->hops().size(), TRASmartRedirectWebView::kMaximumHops);
        driver().advance(7);
        EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:nil"})) << chain;
        EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);
    }
    service.server().releaseStalled();

    // A URL of a megabyte: walked, recorded cut, and ended.
    delegate->events.clear();
    sampleEveryWalk();
    std::string huge = chains.landingUrl() + "?q=" + std::string(1024 * 1024, 'a');
    ASSERT_TRUE(start(huge, false));
    driver().advance(7);
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);
    EXPECT_EQ(walk->hops().at(0).url.size(), TRASmartRedirectWebView::kMaximumHopUrlBytes);
    EXPECT_FALSE(delegate->events.empty());
}

}  // namespace

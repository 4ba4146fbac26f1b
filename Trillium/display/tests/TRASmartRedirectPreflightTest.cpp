// The click follower's https pre-flight against the Trillium service's https
// listener (its test authority trusted) and a second server with an
// untrusted certificate: one pre-flight per https page before the web view
// loads it, an untrusted server ending the walk, a pre-flight that answers
// after the time-out touching nothing, and store links reached by redirect
// (from the pre-flight and from the web view).
#include "Trillium/display/tests/TrilliumScreenTestSupport.h"

namespace {

using simulator::Answer;
using simulator::LoopbackServer;
using simulator::TLSCertificate;
using simulator::TrilliumClickChains;

class TRAPreflightTestDelegate : public NSObject, public TRASmartRedirectWebViewDelegate {
public:
    void didExitWebViewWithInAppBrowser(const std::optional<std::string>& url) override {
        events.push_back("exit:" + url.value_or("nil"));
    }
    void didFinishWithError(const Ref<NSError>& error) override { events.push_back("error:" + std::to_string(error->code())); }
    void allowAutoRotate() override { events.push_back("allowAutoRotate"); }
    PLATFORM_RESPONDS_TO("didExitWebViewWithInAppBrowser:", "didFinishWithError:", "allowAutoRotate")

    std::vector<std::string> events;
};

class TRASmartRedirectPreflightTest : public TrilliumScreenTest {
protected:
    Ref<TRASmartRedirectWebView> start(const std::string& url) {
        EXPECT_TRUE(TRASmartRedirectWebView::startSmartRedirect(*NSURLRequest::requestWithURL(NSURL::URLWithString(url)),
                                                                nullptr, delegate, delegate, true, "", true));
        return TRASmartRedirectWebView::currentWalk();
    }
    std::vector<bool> arrivals(const std::string& path) {
        std::vector<bool> secure;
        for (const auto& r : service.server().requestsTo(path)) secure.push_back(r.secure);
        return secure;
    }

    Ref<TRAPreflightTestDelegate> delegate = NSObject::alloc<TRAPreflightTestDelegate>();
};

TEST_F(TRASmartRedirectPreflightTest, EachHttpsPageIsCheckedOnceBeforeTheWebViewLoadsIt) {
    std::string landing = service.server().httpsURL("/landing/offer");
    std::string details = service.server().httpsURL("/landing/details");
    auto walk = start(landing);
    ASSERT_TRUE(driver().settle(10));
    EXPECT_EQ(arrivals("/landing/offer"), (std::vector<bool>{true, true}));  // the pre-flight, then the page
    EXPECT_TRUE(walk->isAuthenticated());
    EXPECT_TRUE(walk->finishLoading());

    walk->smartWebView()->stringByEvaluatingJavaScriptFromString("location.href = '" + details + "'");
    ASSERT_TRUE(driver().settle(10));
    EXPECT_EQ(arrivals("/landing/details"), (std::vector<bool>{true, true}));
    ASSERT_EQ(walk->hops().size(), 2u);  // each page once, when the web view loads it
    EXPECT_EQ(walk->hops()[0].url, landing);
    EXPECT_EQ(walk->hops()[1].url, details);

    driver().advance(7);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:" + details}));
}

TEST_F(TRASmartRedirectPreflightTest, AnUntrustedServerEndsTheWalkOnTheConnectionError) {
    LoopbackServer untrusted;
    untrusted.setTLSCertificate(TLSCertificate::SelfSigned);
    ASSERT_TRUE(untrusted.start());
    untrusted.route("GET", "/offer", Answer::ok("<html><body>offer</body></html>"));
    std::string url = untrusted.httpsURL("/offer");
    auto walk = start(url);
    ASSERT_TRUE(driver().settle(10));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:nil"}));
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);
    EXPECT_TRUE(untrusted.requestsTo("/offer").empty());  // nothing reached the server
    EXPECT_TRUE(walk->hops().empty());                     // nor the web view
    auto events = analyticsEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].value.rfind("Connection Error: -120", 0), 0u) << events[0].value;
    EXPECT_NE(events[0].details.value_or("").find(", Url: " + url), std::string::npos);
    untrusted.stop();
}

TEST_F(TRASmartRedirectPreflightTest, APreflightThatAnswersAfterTheTimeOutTouchesNothing) {
    std::string slow = service.server().httpsURL("/chain/slow");
    auto walk = start(slow);
    ASSERT_TRUE(driver().runUntil([&] { return service.server().stalledCount() == 1; }, 5));
    driver().advance(7);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:" + slow}));

    // A newer walk is under way when the old pre-flight's answer comes.
    auto next = start(chains.landingUrl());
    service.server().releaseStalled();
    ASSERT_TRUE(driver().settle(10));
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), next);
    EXPECT_EQ(delegate->events.size(), 2u);
    EXPECT_TRUE(walk->hops().empty());
    EXPECT_EQ(service.server().requestsTo("/chain/slow").size(), 1u);  // the web view never loaded it
    driver().advance(7);
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);
}

TEST_F(TRASmartRedirectPreflightTest, StoreLinksReachedByRedirectGoToTheStore) {
    // From the pre-flight: its connection fails on the store link, which is opened.
    start(service.server().httpsURL("/chain/storeredirect"));
    ASSERT_TRUE(driver().settle(10));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:nil"}));
    EXPECT_EQ(openedURLs(), std::vector<std::string>{TrilliumClickChains::storeUrl()});
    EXPECT_EQ(analyticsValues(), std::vector<std::string>{"Connection Error: -1002"});

    // From the web view: the redirect is offered and takes the store route.
    delegate->events.clear();
    auto walk = start(chains.chainUrl("storeredirect"));
    ASSERT_TRUE(driver().settle(10));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"allowAutoRotate", "exit:nil"}));
    EXPECT_EQ(openedURLs().size(), 2u);
    EXPECT_EQ(openedURLs().back(), TrilliumClickChains::storeUrl());
    ASSERT_EQ(walk->hops().size(), 2u);
    EXPECT_EQ(walk->hops()[1].url, TrilliumClickChains::storeUrl());
}

}  // namespace

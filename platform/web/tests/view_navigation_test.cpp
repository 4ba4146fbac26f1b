// Navigations and load reporting: what the delegate is offered and told, in
// which order, against pages from strings, files and the loopback server.
#include <filesystem>
#include <fstream>

#include "platform/net/NetworkConditions.h"
#include "platform/ui/UIApplication.h"
#include "platform/web/tests/WebTestSupport.h"

namespace {

using webtest::Answer;
using webtest::RecordingDelegate;
using webtest::WebTest;
using Events = std::vector<std::string>;

class NavigationTest : public WebTest {};

TEST_F(NavigationTest, HTMLStringLoadsAreReportedAsTasksAfterTheCall) {
    auto view = webViewWithDelegate();
    view->loadHTMLString("<title>T</title>", nullptr);
    EXPECT_TRUE(delegate->events.empty());  // never inside the call
    EXPECT_FALSE(view->isLoading());
    driver().drain();
    EXPECT_EQ(delegate->events, (Events{"should 5 about:blank main=about:blank", "start", "finish"}));
    EXPECT_EQ(eval(view, "document.title"), "T");
    EXPECT_EQ(view->request()->URL()->absoluteString(), "about:blank");

    // The base URL is offered as written and becomes the document URL.
    view->loadHTMLString("<p>x</p>", url("HTTP://Ads.Example.com/slot?id=1"));
    driver().drain();
    EXPECT_EQ(delegate->events.at(3), "should 5 HTTP://Ads.Example.com/slot?id=1 main=HTTP://Ads.Example.com/slot?id=1");
    EXPECT_EQ(eval(view, "document.URL"), "HTTP://Ads.Example.com/slot?id=1");
    EXPECT_EQ(eval(view, "location.hostname + location.pathname + location.search"), "Ads.Example.com/slot?id=1");
}

TEST_F(NavigationTest, IsLoadingFromStartUntilFinish) {
    auto view = webViewWithDelegate();
    std::vector<bool> loading;
    delegate->after = [&](const std::string&) { loading.push_back(view->isLoading()); };
    view->loadHTMLString("", nullptr);
    driver().drain();
    EXPECT_EQ(loading, (std::vector<bool>{false, true, false}));
}

TEST_F(NavigationTest, ARefusedNavigationReportsNothingMore) {
    auto view = webViewWithDelegate();
    delegate->answer = [](const NSURLRequest&, UIWebViewNavigationType) { return false; };
    view->loadHTMLString("<p>x</p>", nullptr);
    view->loadRequest(*requestFor("http://127.0.0.1:9/never"));
    driver().drain();
    EXPECT_EQ(delegate->events, (Events{"should 5 about:blank main=about:blank",
                                        "should 5 http://127.0.0.1:9/never main=http://127.0.0.1:9/never"}));
    EXPECT_FALSE(view->isLoading());
}

TEST_F(NavigationTest, HttpPageIsFetchedWithTheUserAgentAndKeepsTheRequest) {
    startServer();
    server.route("GET", "/page", Answer::ok("<html><head><title>Remote</title></head><body>hi</body></html>"));
    UIWebView::setUserAgent("TestAgent/1.0");
    auto view = webViewWithDelegate();
    auto request = NSMutableURLRequest::requestWithURL(url(server.url("/page")), NSURLRequestReloadIgnoringLocalCacheData, 7);
    view->loadRequest(*request);
    ASSERT_TRUE(waitFor("finish"));
    EXPECT_EQ(delegate->events, (Events{"should 5 " + server.url("/page") + " main=" + server.url("/page"), "start", "finish"}));
    EXPECT_EQ(eval(view, "document.title"), "Remote");
    EXPECT_EQ(eval(view, "navigator.userAgent"), "TestAgent/1.0");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].header("User-Agent"), "TestAgent/1.0");
    EXPECT_EQ(view->request()->cachePolicy(), NSURLRequestReloadIgnoringLocalCacheData);
    EXPECT_EQ(view->request()->timeoutInterval(), 7);
}

TEST_F(NavigationTest, ARequestWithoutURLLoadsAndReportsNothing) {
    auto view = webViewWithDelegate();
    view->loadRequest(NSURLRequest());
    driver().drain();
    EXPECT_TRUE(delegate->events.empty());
    EXPECT_EQ(view->request(), nullptr);
}

TEST_F(NavigationTest, EveryRedirectIsOfferedAndTheLoadReportedOnce) {
    startServer();
    server.route("GET", "/a", Answer::redirect("/b"));
    server.route("GET", "/b", Answer::redirect(server.url("/c"), 301));
    server.route("GET", "/c", Answer::ok("<title>C</title>"));
    auto view = webViewWithDelegate();
    view->loadRequest(*requestFor(server.url("/a")));
    ASSERT_TRUE(waitFor("finish"));
    auto should = [&](const std::string& path) { return "should 5 " + server.url(path) + " main=" + server.url(path); };
    EXPECT_EQ(delegate->events, (Events{should("/a"), "start", should("/b"), should("/c"), "finish"}));
    EXPECT_EQ(eval(view, "location.href"), server.url("/c"));
    EXPECT_EQ(view->request()->URL()->absoluteString(), server.url("/c"));
}

TEST_F(NavigationTest, ARefusedRedirectEndsTheStartedLoadWith102) {
    startServer();
    server.route("GET", "/a", Answer::redirect("/b"));
    server.route("GET", "/b", Answer::ok("<title>B</title>"));
    auto view = webViewWithDelegate();
    view->loadHTMLString("<title>Before</title>", nullptr);
    driver().drain();
    delegate->events.clear();
    delegate->answer = [](const NSURLRequest& r, UIWebViewNavigationType) { return r.URL()->path() != "/b"; };
    view->loadRequest(*requestFor(server.url("/a")));
    ASSERT_TRUE(waitFor("fail"));
    driver().settle();
    EXPECT_EQ(delegate->events.back(), "fail WebKitErrorDomain 102");
    EXPECT_EQ(delegate->count("start"), 1u);
    EXPECT_EQ(delegate->count("finish"), 0u);
    EXPECT_EQ(server.requestsTo("/b").size(), 0u);
    EXPECT_EQ(eval(view, "document.title"), "Before");
    EXPECT_FALSE(view->isLoading());
}

TEST_F(NavigationTest, ARedirectToAnotherSchemeIsOfferedBeforeItFails) {
    startServer();
    const std::string store = "itms-apps://itunes.example/app/id42";
    server.route("GET", "/click", Answer::redirect(store));
    auto view = webViewWithDelegate();

    // Allowed: the web view cannot load it; the load fails with -1002.
    view->loadRequest(*requestFor(server.url("/click")));
    ASSERT_TRUE(waitFor("fail"));
    EXPECT_EQ(delegate->events, (Events{"should 5 " + server.url("/click") + " main=" + server.url("/click"), "start",
                                        "should 5 " + store + " main=" + store, "fail NSURLErrorDomain -1002"}));
    EXPECT_EQ(delegate->errors.at(0)->userInfo()[NSErrorFailingURLStringKey].stringValue(), store);
    EXPECT_TRUE(UIApplication::sharedApplication()->openedURLs().empty());

    // Refused (the delegate routes store links itself): the load stops with
    // the interrupted-load error that follows every refusal, nothing else.
    delegate->events.clear();
    delegate->answer = [](const NSURLRequest& r, UIWebViewNavigationType) { return r.URL()->scheme() != "itms-apps"; };
    view->loadRequest(*requestFor(server.url("/click")));
    ASSERT_TRUE(waitFor("fail"));
    driver().settle();
    EXPECT_EQ(delegate->events, (Events{"should 5 " + server.url("/click") + " main=" + server.url("/click"), "start",
                                        "should 5 " + store + " main=" + store, "fail WebKitErrorDomain 102"}));
    EXPECT_FALSE(view->isLoading());

    // In a frame: offered with the page as main document, never reported.
    delegate->events.clear();
    delegate->answer = nullptr;
    view->loadHTMLString("<iframe src='" + server.url("/click") + "'></iframe>", url("http://h/page"));
    ASSERT_TRUE(driver().runUntil([&] { return delegate->count("should " ) == 3; }, 5));
    driver().settle();
    EXPECT_EQ(delegate->events, (Events{"should 5 http://h/page main=http://h/page", "start",
                                        "should 5 " + server.url("/click") + " main=http://h/page", "finish",
                                        "should 5 " + store + " main=http://h/page"}));
}

TEST_F(NavigationTest, TransportFailuresEndTheLoadWithTheirError) {
    startServer();
    server.route("GET", "/drop", Answer::drop());
    auto view = webViewWithDelegate();
    view->loadRequest(*requestFor(server.url("/drop")));
    ASSERT_TRUE(waitFor("fail"));
    EXPECT_EQ(delegate->events.at(1), "start");
    EXPECT_EQ(delegate->errors.at(0)->domain(), NSURLErrorDomain);

    platform::testing::NetworkConditions::set(NetworkState::None);
    view->loadRequest(*requestFor(server.url("/drop")));
    ASSERT_TRUE(driver().runUntil([&] { return delegate->count("fail") == 2; }, 5));
    EXPECT_EQ(delegate->events.back(), "fail NSURLErrorDomain -1009");
    EXPECT_EQ(delegate->errors.back()->userInfo()[NSErrorFailingURLStringKey].stringValue(), server.url("/drop"));
}

TEST_F(NavigationTest, AnyHttpStatusIsLoadedAsThePage) {
    startServer();
    server.route("GET", "/missing", Answer::withStatus(404, "<title>Not here</title>"));
    auto view = webViewWithDelegate();
    view->loadRequest(*requestFor(server.url("/missing")));
    ASSERT_TRUE(waitFor("finish"));
    EXPECT_EQ(eval(view, "document.title"), "Not here");
}

TEST_F(NavigationTest, SchemesTheViewCannotLoadGoToTheSystem) {
    auto view = webViewWithDelegate();
    view->loadHTMLString("<title>Stays</title>", nullptr);
    driver().drain();
    delegate->events.clear();

    UIApplication::sharedApplication()->setCanOpenScheme("halcyon", true);
    view->loadRequest(*requestFor("halcyon://com.example/next_ad"));
    driver().drain();
    EXPECT_EQ(delegate->events, (Events{"should 5 halcyon://com.example/next_ad main=halcyon://com.example/next_ad",
                                        "start", "fail WebKitErrorDomain 102"}));
    ASSERT_EQ(UIApplication::sharedApplication()->openedURLs().size(), 1u);
    EXPECT_EQ(UIApplication::sharedApplication()->openedURLs()[0]->absoluteString(), "halcyon://com.example/next_ad");

    delegate->events.clear();
    view->loadRequest(*requestFor("nothing-opens-this://x/y"));
    driver().drain();
    EXPECT_EQ(delegate->events.back(), "fail WebKitErrorDomain 101");
    const Value& info = delegate->errors.back()->userInfo();
    EXPECT_EQ(info[NSErrorFailingURLStringKey].stringValue(), "nothing-opens-this://x/y");
    EXPECT_EQ(info[NSErrorFailingURLKey].object<NSURL>()->absoluteString(), "nothing-opens-this://x/y");
    EXPECT_FALSE(delegate->errors.back()->localizedDescription().empty());
    EXPECT_EQ(UIApplication::sharedApplication()->openedURLs().size(), 1u);
    EXPECT_EQ(eval(view, "document.title"), "Stays");  // the document stays
}

TEST_F(NavigationTest, TheHandOffHappensEvenWhenTheDelegateDropsTheView) {
    auto view = webViewWithDelegate();
    Weak<UIWebView> weak = view;
    delegate->answer = [&](const NSURLRequest&, UIWebViewNavigationType) {
        view = nullptr;  // the delegate lets the last reference go
        return true;
    };
    weak.lock()->loadRequest(*requestFor("tel:123"));
    driver().drain();
    EXPECT_EQ(delegate->events, (Events{"should 5 tel:123 main=tel:123", "start", "fail WebKitErrorDomain 102"}));
    EXPECT_EQ(UIApplication::sharedApplication()->openedURLs().size(), 1u);
    EXPECT_TRUE(weak.expired());
}

TEST_F(NavigationTest, ScriptNavigationsAreQueuedInOrderAfterTheFinish) {
    auto view = webViewWithDelegate();
    delegate->answer = [](const NSURLRequest& r, UIWebViewNavigationType) { return r.URL()->scheme() != "cmd"; };
    view->loadHTMLString(
        "<script>location = 'cmd://one'; location.href = 'cmd://two'; location.assign('cmd://three');"
        "document.location = 'cmd://four'; window.location.replace('cmd://five');</script>",
        url("http://host/dir/page.html"));
    driver().drain();
    Events expected{"should 5 http://host/dir/page.html main=http://host/dir/page.html", "start", "finish"};
    for (std::string n : {"one", "two", "three", "four", "five"}) expected.push_back("should 5 cmd://" + n + " main=cmd://" + n);
    EXPECT_EQ(delegate->events, expected);

    // Relative targets resolve against the document URL.
    delegate->events.clear();
    EXPECT_EQ(eval(view, "location.href = 'other.html?x=1'; 'sync'"), "sync");
    EXPECT_TRUE(delegate->events.empty());  // only queued
    delegate->answer = [](const NSURLRequest&, UIWebViewNavigationType) { return false; };
    driver().drain();
    EXPECT_EQ(delegate->events, (Events{"should 5 http://host/dir/other.html?x=1 main=http://host/dir/other.html?x=1"}));
}

TEST_F(NavigationTest, LinkClicksAreOfferedAsClicks) {
    auto view = webViewWithDelegate();
    view->loadHTMLString("<a id='buy' href='/store?id=5'><span id='inner'>Buy</span></a>"
                         "<a id='js' href='javascript:document.title=\"ran\"'>run</a>"
                         "<a id='stop' href='cmd://x' onclick='event.preventDefault()'>no</a>",
                         url("https://ads.example.com/ad/1"));
    driver().drain();
    delegate->events.clear();
    delegate->answer = [](const NSURLRequest&, UIWebViewNavigationType) { return false; };

    EXPECT_TRUE(view->simulateLinkClick("inner"));  // a click inside the anchor
    EXPECT_FALSE(view->simulateLinkClick("no-such-element"));
    view->simulateLinkClickOnHref("/store?id=5");
    view->simulateLinkClickOnHref("https://elsewhere.example.com/");
    eval(view, "document.getElementById('buy').click()");
    view->simulateLinkClick("js");
    view->simulateLinkClick("stop");
    driver().drain();
    std::string store = "should 0 https://ads.example.com/store?id=5 main=https://ads.example.com/store?id=5";
    EXPECT_EQ(delegate->events,
              (Events{store, store, "should 0 https://elsewhere.example.com/ main=https://elsewhere.example.com/", store}));
    EXPECT_EQ(eval(view, "document.title"), "ran");  // script links run their code
}

TEST_F(NavigationTest, FragmentChangesOnlyChangeTheURL) {
    auto view = webViewWithDelegate();
    view->loadHTMLString("<a id='top' href='#top'>top</a>", url("http://host/page"));
    driver().drain();
    delegate->events.clear();
    view->simulateLinkClick("top");
    eval(view, "location.hash = 'part2'");
    driver().drain();
    EXPECT_EQ(delegate->events, (Events{"should 0 http://host/page#top main=http://host/page#top",
                                        "should 5 http://host/page#part2 main=http://host/page#part2"}));
    EXPECT_EQ(eval(view, "location.hash + ' ' + document.URL"), "#part2 http://host/page#part2");
    EXPECT_EQ(view->request()->URL()->absoluteString(), "http://host/page#part2");
}

TEST_F(NavigationTest, FramesAreOfferedButNeverReported) {
    startServer();
    server.route("GET", "/frame", Answer::redirect("/frame2"));
    server.route("GET", "/frame2", Answer::ok("<script>parent.x = 1</script>"));
    auto view = webViewWithDelegate();
    std::string top = server.url("/top");
    server.route("GET", "/top", Answer::ok("<iframe src='/frame'></iframe><iframe src='about:blank'></iframe>"
                                           "<iframe></iframe><script>"
                                           "var f = document.createElement('iframe'); f.src = 'cmd://late';"
                                           "document.body.appendChild(f);"
                                           "setTimeout(function() { f.src = 'cmd://changed'; }, 10);"
                                           "</script>"));
    view->loadRequest(*requestFor(top));
    ASSERT_TRUE(waitFor("finish"));
    ASSERT_TRUE(driver().runUntil([&] { return server.requestsTo("/frame2").size() == 1; }, 5));
    driver().advance(0.05);
    driver().settle();
    // The page's frames are offered while it loads, before its finish.
    Events expected{"should 5 " + top + " main=" + top,
                    "start",
                    "should 5 " + server.url("/frame") + " main=" + top,
                    "should 5 about:blank main=" + top,
                    "should 5 cmd://late main=" + top,
                    "finish",
                    "should 5 " + server.url("/frame2") + " main=" + top,
                    "should 5 cmd://changed main=" + top};
    EXPECT_EQ(delegate->events, expected);
    EXPECT_EQ(delegate->count("start"), 1u);
    EXPECT_EQ(delegate->count("fail"), 0u);
    EXPECT_EQ(eval(view, "typeof x"), "undefined");  // frames have no document of their own
}

TEST_F(NavigationTest, ARefusedFrameRedirectAbandonsTheFrame) {
    startServer();
    server.route("GET", "/frame", Answer::redirect("/frame2"));
    auto view = webViewWithDelegate();
    delegate->answer = [](const NSURLRequest& r, UIWebViewNavigationType) { return r.URL()->path() != "/frame2"; };
    view->loadHTMLString("<iframe src='" + server.url("/frame") + "'></iframe>", nullptr);
    ASSERT_TRUE(driver().runUntil([&] { return delegate->count("should") == 3; }, 5));
    driver().settle();
    EXPECT_EQ(server.requestsTo("/frame2").size(), 0u);
    EXPECT_EQ(delegate->count("fail"), 0u);
}

TEST_F(NavigationTest, StopLoadingCancelsTheLoadAndDropsQueuedNavigations) {
    startServer();
    server.route("GET", "/slow", Answer::stall());
    auto view = webViewWithDelegate();
    view->loadRequest(*requestFor(server.url("/slow")));
    ASSERT_TRUE(waitFor("start"));
    ASSERT_TRUE(driver().runUntil([&] { return server.stalledCount() == 1; }, 5));
    view->loadHTMLString("<p>queued</p>", nullptr);
    view->stopLoading();
    EXPECT_FALSE(view->isLoading());
    EXPECT_EQ(delegate->count("fail"), 0u);  // reported as a task
    driver().drain();
    EXPECT_EQ(delegate->events.back(), "fail NSURLErrorDomain -999");
    EXPECT_EQ(delegate->count("should"), 1u);
    view->stopLoading();  // nothing in progress: nothing reported
    driver().drain();
    EXPECT_EQ(delegate->count("fail"), 1u);
}

TEST_F(NavigationTest, ANewLoadCancelsTheOneStillFetching) {
    startServer();
    server.route("GET", "/slow", Answer::stall());
    auto view = webViewWithDelegate();
    view->loadRequest(*requestFor(server.url("/slow")));
    ASSERT_TRUE(waitFor("start"));
    view->loadHTMLString("<title>Second</title>", nullptr);
    driver().drain();
    EXPECT_EQ(delegate->events, (Events{"should 5 " + server.url("/slow") + " main=" + server.url("/slow"), "start",
                                        "should 5 about:blank main=about:blank", "fail NSURLErrorDomain -999", "start",
                                        "finish"}));
    EXPECT_EQ(eval(view, "document.title"), "Second");
}

TEST_F(NavigationTest, HistoryGoesBackForwardAndReloads) {
    auto view = webViewWithDelegate();
    EXPECT_FALSE(view->canGoBack());
    view->loadHTMLString("<title>One</title>", url("http://h/one"));
    driver().drain();
    view->loadHTMLString("<title>Two</title>", url("http://h/two"));
    driver().drain();
    EXPECT_TRUE(view->canGoBack());
    EXPECT_FALSE(view->canGoForward());
    delegate->events.clear();

    view->goBack();
    driver().drain();
    EXPECT_EQ(eval(view, "document.title"), "One");
    EXPECT_TRUE(view->canGoForward());
    view->goForward();
    driver().drain();
    EXPECT_EQ(eval(view, "document.title"), "Two");
    view->reload();
    driver().drain();
    EXPECT_EQ(delegate->events, (Events{"should 2 http://h/one main=http://h/one", "start", "finish",
                                        "should 2 http://h/two main=http://h/two", "start", "finish",
                                        "should 3 http://h/two main=http://h/two", "start", "finish"}));
    EXPECT_TRUE(view->canGoBack());
    EXPECT_FALSE(view->canGoForward());
}

TEST_F(NavigationTest, FilePagesLoadFromDiskAndMissingOnesFail) {
    std::string folder = home() + "/site";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/page.html") << "<title>Disk</title><script src='code.js'></script>";
    std::ofstream(folder + "/code.js") << "document.title += ' + script';";
    auto view = webViewWithDelegate();
    view->loadRequest(*NSURLRequest::requestWithURL(NSURL::fileURLWithPath(folder + "/page.html")));
    driver().drain();
    EXPECT_EQ(delegate->events.back(), "finish");
    EXPECT_EQ(eval(view, "document.title"), "Disk + script");

    view->loadRequest(*NSURLRequest::requestWithURL(NSURL::fileURLWithPath(folder + "/absent.html")));
    driver().drain();
    EXPECT_EQ(delegate->events.back(), "fail NSURLErrorDomain -1100");
}

TEST_F(NavigationTest, AMetaRefreshNavigatesAfterItsDelayOnceLoaded) {
    auto view = webViewWithDelegate();
    delegate->answer = [](const NSURLRequest& r, UIWebViewNavigationType) { return r.URL()->scheme() != "next"; };
    view->loadHTMLString("<meta http-equiv='Refresh' content='2; url=next://page'>", url("http://h/"));
    driver().drain();
    EXPECT_EQ(delegate->count("should"), 1u);
    driver().advance(1.9);
    EXPECT_EQ(delegate->count("should"), 1u);
    driver().advance(0.2);
    EXPECT_EQ(delegate->events.back(), "should 5 next://page main=next://page");
}

TEST_F(NavigationTest, AClearedDelegateHearsNothingAndAReleasedViewDropsItsSteps) {
    auto view = webViewWithDelegate();
    view->loadHTMLString("<p>x</p>", nullptr);
    view->setDelegate(nullptr);
    driver().drain();
    EXPECT_TRUE(delegate->events.empty());

    auto second = webViewWithDelegate();
    second->loadHTMLString("<script>setTimeout(function() { location = 'x://y'; }, 5)</script>", nullptr);
    driver().drain();
    Weak<UIWebView> weak = second;
    second = nullptr;
    EXPECT_TRUE(weak.expired());
    driver().advance(1);
    EXPECT_EQ(delegate->events, (Events{"should 5 about:blank main=about:blank", "start", "finish"}));
}

class ThrowingDelegate : public NSObject, public UIWebViewDelegate {
public:
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView>, const NSURLRequest&, UIWebViewNavigationType) override {
        throw std::runtime_error("should");
    }
    void webViewDidStartLoad(Ref<UIWebView>) override { throw std::runtime_error("start"); }
    void webViewDidFinishLoad(Ref<UIWebView>) override { throw std::runtime_error("finish"); }
};

TEST_F(NavigationTest, ExceptionsFromTheDelegateAreCaughtAndTheLoadGoesOn) {
    expectLogLine("web view delegate: uncaught exception: should");
    expectLogLine("web view delegate: uncaught exception: start");
    expectLogLine("web view delegate: uncaught exception: finish");
    auto view = makeWebView();
    auto thrower = std::make_shared<ThrowingDelegate>();
    view->setDelegate(thrower);
    view->loadHTMLString("<title>Loaded</title>", nullptr);
    driver().drain();
    EXPECT_EQ(eval(view, "document.title"), "Loaded");
    EXPECT_FALSE(view->isLoading());
}

}  // namespace

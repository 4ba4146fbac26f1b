// The page-load progress estimator and its bar: the counting rule's worked
// numbers, what resets it and what does not (fragment jumps, sub-frames), the
// completion path that never reaches the real delegate or a server, a late
// failure after a reset, and the bar's width and fade on the virtual clock.
// Pages come from the loopback server through a real web view.
#include "Trillium/display/TRAWebViewProgress.h"
#include "Trillium/display/TRAWebViewProgressView.h"
#include "Trillium/display/tests/TrilliumScreenTestSupport.h"
#include "platform/net/NSURLError.h"

namespace {

using simulator::Answer;

// The real delegate behind the estimator, and its listener.
class TRAProgressTestDelegate : public NSObject, public UIWebViewDelegate, public TRAWebViewProgressDelegate {
public:
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView>, const NSURLRequest& request, UIWebViewNavigationType) override {
        calls.push_back("should:" + request.URL()->absoluteString());
        return true;
    }
    void webViewDidStartLoad(Ref<UIWebView>) override { calls.push_back("start"); }
    void webViewDidFinishLoad(Ref<UIWebView>) override { calls.push_back("finish"); }
    void webViewDidFailLoadWithError(Ref<UIWebView>, Ref<NSError>) override { calls.push_back("fail"); }
    void webViewProgressUpdateProgress(const Ref<TRAWebViewProgress>&, float progress) override {
        values.push_back(progress);
        order.push_back("delegate");
    }
    PLATFORM_RESPONDS_TO("webViewDidStartLoad:", "webViewDidFinishLoad:", "webView:didFailLoadWithError:")

    std::vector<std::string> calls, order;
    std::vector<float> values;
};

class TRAWebViewProgressTest : public TrilliumScreenTest {
protected:
    void SetUp() override {
        TrilliumScreenTest::SetUp();
        proxy = NSObject::alloc<TRAWebViewProgress>()->init();
        proxy->setWebViewProxyDelegate(listener);
        proxy->setProgressDelegate(listener);
        proxy->setProgressBlock([this](float) { listener->order.push_back("block"); });
        webView = std::static_pointer_cast<UIWebView>(UIWebView::alloc()->initWithFrame(CGRectMake(0, 0, 320, 480)));
        webView->setDelegate(proxy);
    }
    void load(const std::string& url) {
        webView->loadRequest(*NSURLRequest::requestWithURL(NSURL::URLWithString(url)));
        ASSERT_TRUE(waitFor([&] { return !webView->isLoading() && !listener->calls.empty(); }));
        driver().drain();
    }

    Ref<TRAProgressTestDelegate> listener = NSObject::alloc<TRAProgressTestDelegate>();
    Ref<TRAWebViewProgress> proxy;
    Ref<UIWebView> webView;
};

TEST_F(TRAWebViewProgressTest, CountedLoadsGiveTheWorkedNumbers) {
    proxy->webViewDidStartLoad(nullptr);
    EXPECT_FLOAT_EQ(proxy->progress(), 0.1f);
    proxy->webViewDidStartLoad(nullptr);  // a frame
    proxy->webViewDidFinishLoad(nullptr);
    EXPECT_FLOAT_EQ(proxy->progress(), 0.1f + (0.5f - 0.1f) * 0.5f);  // 0.3
    proxy->webViewDidFinishLoad(nullptr);                          // share 0/2: no step
    EXPECT_FLOAT_EQ(proxy->progress(), 0.3f);

    proxy->setProgress(0.05f);  // lower: dropped
    EXPECT_FLOAT_EQ(proxy->progress(), 0.3f);
    proxy->setProgress(0);  // an explicit 0 always goes through
    EXPECT_FLOAT_EQ(proxy->progress(), 0);
    EXPECT_EQ(listener->values, (std::vector<float>{0.1f, 0.3f, 0}));
    EXPECT_EQ(listener->order, (std::vector<std::string>{"delegate", "block", "delegate", "block", "delegate", "block"}));
}

TEST_F(TRAWebViewProgressTest, AOneResourcePageResetsStartsAndCompletes) {
    load(chains.landingUrl());
    EXPECT_EQ(listener->values, (std::vector<float>{0, 0.1f, 1.0f}));
    EXPECT_EQ(listener->calls, (std::vector<std::string>{"should:" + chains.landingUrl(), "start", "finish"}));
    ASSERT_NE(proxy->currentURL(), nullptr);
    EXPECT_EQ(proxy->currentURL()->absoluteString(), chains.landingUrl());
    EXPECT_EQ(proxy->loadingCount(), 0u);
}

TEST_F(TRAWebViewProgressTest, FragmentJumpsAndSubFramesDoNotReset) {
    load(chains.landingUrl());
    listener->values.clear();
    webView->stringByEvaluatingJavaScriptFromString("location.hash = 'top'");
    webView->stringByEvaluatingJavaScriptFromString(
        "var f = document.createElement('iframe'); f.src = '" + chains.detailsUrl() + "'; document.body.appendChild(f);");
    driver().drain();
    EXPECT_TRUE(driver().settle(5));
    EXPECT_TRUE(listener->values.empty());  // neither reset the estimate
    EXPECT_EQ(proxy->currentURL()->absoluteString(), chains.landingUrl());
    EXPECT_FLOAT_EQ(proxy->progress(), 1.0f);
    EXPECT_EQ(listener->calls.back(), "should:" + chains.detailsUrl());  // the frame was still offered
}

TEST_F(TRAWebViewProgressTest, TheCompletionPathCompletesWithoutReachingTheDelegateOrAServer) {
    load(chains.landingUrl());
    proxy->reset();
    listener->calls.clear();
    size_t before = service.server().requestCount();
    // An interactive page plants the hidden iframe, which asks for the completion path at "load".
    webView->stringByEvaluatingJavaScriptFromString(
        "Object.defineProperty(document, 'readyState', {get: function() { return 'interactive'; }, configurable: true});");
    proxy->webViewDidStartLoad(webView);
    proxy->webViewDidFinishLoad(webView);
    EXPECT_TRUE(proxy->isInteractive());
    EXPECT_FLOAT_EQ(proxy->progress(), 0.1f);
    webView->stringByEvaluatingJavaScriptFromString("window.dispatchEvent(new Event('load'))");
    driver().drain();
    EXPECT_FLOAT_EQ(proxy->progress(), 1.0f);
    EXPECT_EQ(listener->calls, (std::vector<std::string>{"start", "finish"}));
    EXPECT_TRUE(driver().settle(5));
    EXPECT_EQ(service.server().requestCount(), before);
}

TEST_F(TRAWebViewProgressTest, ALateFailureAfterAResetCompletesAndTheCountWraps) {
    proxy->reset();
    proxy->webViewDidFailLoadWithError(nullptr, platform::net::urlError(NSURLErrorCancelled, Ref<NSURL>()));
    EXPECT_FLOAT_EQ(proxy->progress(), 1.0f);
    EXPECT_EQ(proxy->loadingCount(), 4294967295u);
    proxy->webViewDidStartLoad(nullptr);
    EXPECT_EQ(proxy->loadingCount(), 0u);
    EXPECT_FLOAT_EQ(proxy->progress(), 1.0f);  // stays complete until the next reset
}

TEST_F(TRAWebViewProgressTest, TheBarFollowsTheValueAndFadesOutOnTheClock) {
    auto bar = std::static_pointer_cast<TRAWebViewProgressView>(
        TRAWebViewProgressView::alloc()->initWithFrame(CGRectMake(0, 0, 200, 4)));
    EXPECT_FALSE(bar->isUserInteractionEnabled());
    EXPECT_EQ(bar->autoresizingMask(), UIViewAutoresizingFlexibleWidth);
    EXPECT_DOUBLE_EQ(bar->barAnimationDuration(), static_cast<double>(0.27f));
    EXPECT_DOUBLE_EQ(bar->fadeOutDelay(), static_cast<double>(0.1f));
    Ref<UIView> inner = bar->progressBarView();

    bar->setProgress(0.5f, true);
    EXPECT_FLOAT_EQ(inner->frame().size.width, 100);
    EXPECT_FLOAT_EQ(inner->alpha(), 1);

    bar->setProgress(1.0f, true);
    EXPECT_FLOAT_EQ(inner->frame().size.width, 200);
    EXPECT_FLOAT_EQ(inner->alpha(), 0);
    driver().advance(0.3);  // the fade ends at 0.1 + 0.27 s
    EXPECT_FLOAT_EQ(inner->frame().size.width, 200);
    driver().advance(0.1);
    EXPECT_FLOAT_EQ(inner->frame().size.width, 0);

    bar->setProgress(0.2f);  // not animated: fades back in at once
    EXPECT_FLOAT_EQ(inner->alpha(), 1);
    EXPECT_FLOAT_EQ(inner->frame().size.width, 40);
}

}  // namespace

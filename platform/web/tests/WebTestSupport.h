// Shared by the web tests: the fixture (platform fixture, loopback server,
// a short script time limit, the process-wide settings a test changes
// restored after it) and a delegate that records what the web view reports,
// one line per callback.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/net/NSURLRequest.h"
#include "platform/testing/PlatformTest.h"
#include "platform/web/JSVirtualMachine.h"
#include "platform/web/PageDrawing.h"
#include "platform/web/UIWebView.h"
#include "simulator/LoopbackServer.h"

namespace webtest {

using simulator::Answer;

// Lines: "should <type> <url> main=<main document URL>", "start",
// "finish", "fail <domain> <code>".
class RecordingDelegate : public NSObject, public UIWebViewDelegate {
public:
    std::vector<std::string> events;
    std::vector<Ref<NSError>> errors;
    // The answer to shouldStart (default: yes).
    std::function<bool(const NSURLRequest&, UIWebViewNavigationType)> answer;
    // Run after each event is recorded.
    std::function<void(const std::string& event)> after;

    bool webViewShouldStartLoadWithRequest(Ref<UIWebView>, const NSURLRequest& request,
                                           UIWebViewNavigationType type) override {
        auto text = [](const Ref<NSURL>& u) { return u ? u->absoluteString() : std::string("(null)"); };
        record("should " + std::to_string(type) + " " + text(request.URL()) + " main=" + text(request.mainDocumentURL()));
        return answer ? answer(request, type) : true;
    }
    void webViewDidStartLoad(Ref<UIWebView>) override { record("start"); }
    void webViewDidFinishLoad(Ref<UIWebView>) override { record("finish"); }
    void webViewDidFailLoadWithError(Ref<UIWebView>, Ref<NSError> error) override {
        errors.push_back(error);
        record("fail " + error->domain() + " " + std::to_string(error->code()));
    }

    size_t count(const std::string& prefix) const {
        size_t n = 0;
        for (const auto& e : events) n += e.rfind(prefix, 0) == 0;
        return n;
    }

private:
    void record(std::string event) {
        events.push_back(event);
        if (after) after(event);
    }
};

class WebTest : public platform::testing::PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        // Endless page scripts are stopped quickly here.
        JSVirtualMachine::setExecutionTimeLimit(0.25);
        // A drawing's processor time, which the sanitizers and a busy machine
        // stretch many times over, stops only the tests of that bound.
        platform::testing::setPageDrawingTimeLimit(kDrawingTimeLimit);
    }
    static constexpr double kDrawingTimeLimit = 120;
    void TearDown() override {
        server.stop();
        // Process-wide settings a test may change go back to their defaults,
        // for a next test run in this process.
        JSVirtualMachine::setExecutionTimeLimit(0);
        JSVirtualMachine::setPageHeapBudget(0);
        UIWebView::setUserAgent(std::nullopt);
        platform::testing::setPageDrawingTimeLimit(0);
        platform::testing::setPageDrawingStepsBetweenTimeChecks(0);
        PlatformTest::TearDown();
    }

    Ref<UIWebView> makeWebView(CGRect frame = CGRect{{0, 0}, {320, 480}}) {
        auto view = UIWebView::alloc();
        view->initWithFrame(frame);
        return view;
    }
    Ref<UIWebView> webViewWithDelegate() {
        auto view = makeWebView();
        delegate = std::make_shared<RecordingDelegate>();
        view->setDelegate(delegate);
        return view;
    }
    void startServer() { ASSERT_TRUE(server.start()); }
    // Runs the main loop until the delegate has seen `event`.
    bool waitFor(const std::string& event, double seconds = 5) {
        return driver().runUntil([&] { return delegate->count(event) > 0; }, seconds);
    }
    static Ref<NSURL> url(const std::string& text) { return NSURL::URLWithString(text); }
    static Ref<NSURLRequest> requestFor(const std::string& text) { return NSURLRequest::requestWithURL(url(text)); }
    std::string eval(const Ref<UIWebView>& view, const std::string& script) {
        return view->stringByEvaluatingJavaScriptFromString(script);
    }

    simulator::LoopbackServer server;
    Ref<RecordingDelegate> delegate;
};

}  // namespace webtest

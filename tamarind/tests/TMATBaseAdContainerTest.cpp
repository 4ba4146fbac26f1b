// The web-view containers: how a creative is wrapped into a page, the
// native close button and its tap, the scroll snap-back, the interstitial's
// prerender and render (while loading, and a failed load), screen
// containment at the window's edge, and the viewability timer's interval on
// the virtual clock.
#include "tamarind/tests/TamarindTestSupport.h"

namespace {

// Stops its own page as soon as it starts, so the prerender fails.
class TMATContainerTestStoppingContainer : public TMATInterstitialAdContainer {
public:
    void webViewDidStartLoad(Ref<UIWebView> webView) override {
        TMATInterstitialAdContainer::webViewDidStartLoad(webView);
        webView->stopLoading();
    }
};

constexpr const char* kTMATViewportHeadText =
    "<head><meta name='viewport' content='user-scalable=no; initial-scale=1.0'/>"
    "<style>html,body{margin:0;padding:0;height:100%;border:none;}</style>";

}  // namespace

class TMATBaseAdContainerTest : public TamarindPageTest {
protected:
    void SetUp() override {
        TamarindPageTest::SetUp();
        recorder = NSObject::alloc<RecordingContainerDelegate>();
    }
    Ref<RecordingContainerDelegate> recorder;
};

TEST_F(TMATBaseAdContainerTest, FragmentsAreWrappedAndEveryPageGetsTheViewportHead) {
    auto container = addContainer();
    const std::string head = kTMATViewportHeadText;
    EXPECT_EQ(container->formatHTMLCreative("<div>ad</div>"),
              "<html>" + head + "</head><body><div>ad</div></body></html>");
    EXPECT_EQ(container->formatHTMLCreative("<html><body>x</body></html>"),
              "<html>" + head + "</head><body><html><body>x</body></html></body></html>");
    EXPECT_EQ(container->formatHTMLCreative("<html><head><title>t</title></head><head></html>"),
              "<html>" + head + "<title>t</title></head><head></html>");
    EXPECT_EQ(container->formatHTMLCreative("<HTML><HEAD></HEAD>%d</HTML>"),
              "<html>" + head + "</head><body><HTML><HEAD></HEAD>%d</HTML></body></html>");
}

TEST_F(TMATBaseAdContainerTest, TheCloseButtonSitsTopRightClosesOnATapAndYieldsToACustomOne) {
    auto container = addContainer(CGRectMake(0, 40, 320, 300));
    container->setDelegate(recorder);
    container->setAllowsCloseButton(true);
    EXPECT_FALSE(container->closeButton());
    driver().drain();
    auto button = container->closeButton();
    ASSERT_TRUE(button);
    EXPECT_EQ(button->superview(), container);
    EXPECT_EQ(button->frame(), CGRectMake(262, 8, 50, 50));
    EXPECT_EQ(button->accessibilityIdentifier(), "nativeCloseButton");
    EXPECT_EQ(button->imageView()->accessibilityIdentifier(), "nativeCloseButtonImage");
    EXPECT_EQ(container->subviews().back(), button);
    window()->simulateTap(CGPointMake(287, 73));
    EXPECT_EQ(recorder->events, std::vector<std::string>{"close"});

    container->setUsesCustomCloseButton(true);
    driver().drain();
    EXPECT_FALSE(button->superview());
    container->setUsesCustomCloseButton(false);
    driver().drain();
    EXPECT_EQ(button->superview(), container);
    container->setAllowsCloseButton(false);
    driver().drain();
    EXPECT_FALSE(button->superview());
}

TEST_F(TMATBaseAdContainerTest, AScrolledPageSnapsBack) {
    auto container = addContainer();
    auto scrollView = container->webView()->scrollView();
    scrollView->setContentSize(CGSizeMake(320, 2000));
    scrollView->setContentOffset(CGPointMake(0, 300));
    EXPECT_EQ(scrollView->contentOffset(), CGPointZero);
    scrollView->setContentOffset(CGPointMake(15, 0));
    EXPECT_EQ(scrollView->contentOffset(), CGPointZero);
}

TEST_F(TMATBaseAdContainerTest, PrerenderAndRenderWhileLoadingAreIgnored) {
    expectLogLine("Interstitial ad view is already loading html. Prerendering is ignored.");
    expectLogLine("Interstitial ad view is already loading html. Rendering is ignored.");
    auto container = addContainer();
    container->setDelegate(recorder);
    auto bridges = TMATBridgeManager::bridgeManager(flags(false, true, false), controller);
    container->prerenderHtml("<p>one</p>", bridges);
    container->prerenderHtml("<p>two</p>", bridges);
    container->render();
    EXPECT_TRUE(container->webView()->mediaPlaybackRequiresUserAction());
    EXPECT_FALSE(container->webView()->allowsInlineMediaPlayback());
    driver().drain();
    EXPECT_EQ(recorder->events, std::vector<std::string>{"prerendered"});
    EXPECT_EQ(eval(container, "document.body.textContent + typeof tamarind"), "oneobject");

    container->render();
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"prerendered", "rendered"}));
    EXPECT_FALSE(container->webView()->mediaPlaybackRequiresUserAction());
    EXPECT_TRUE(container->webView()->allowsInlineMediaPlayback());
}

TEST_F(TMATBaseAdContainerTest, AFailedPrerenderReportsTheWebViewsError) {
    expectLogLine("Ad failed to load in the webview");
    auto container = TMATBaseAdContainer::containerWithFrame<TMATContainerTestStoppingContainer>(
        CGRectMake(0, 0, 320, 480));
    container->setDelegate(recorder);
    container->prerenderHtml("<p>ad</p>", nullptr);
    driver().drain();
    EXPECT_EQ(recorder->events, std::vector<std::string>{"prerenderFailed -999"});
    EXPECT_FALSE(container->isLoading());
    // Outside a prerender a failure is only logged.
    container->loadHTMLString("<p>again</p>", nullptr, nullptr);
    driver().drain();
    EXPECT_EQ(recorder->events.size(), 1u);
}

TEST_F(TMATBaseAdContainerTest, OnePointPastTheWindowsEdgeIsNotContainedInTheScreen) {
    auto container = TMATBaseAdContainer::containerWithFrame(CGRectMake(0, 0, 320, 100));
    EXPECT_FALSE(container->containedInScreenBounds());
    window()->addSubview(container);
    EXPECT_TRUE(container->containedInScreenBounds());
    container->setFrame(CGRectMake(1, 0, 320, 100));
    EXPECT_FALSE(container->containedInScreenBounds());
    container->setFrame(CGRectMake(0, 469, 320, 100));
    EXPECT_FALSE(container->containedInScreenBounds());
    container->setFrame(CGRectMake(0, 468, 320, 100));
    EXPECT_TRUE(container->containedInScreenBounds());
}

TEST_F(TMATBaseAdContainerTest, TheTimerRunsAtTheConfiguredIntervalOrAFifthOfASecond) {
    struct Case {
        Value stored;
        double interval;
    } cases[] = {{Value(0), 0.2}, {Value(750), 0.75}, {Value(), 0.2}};
    for (const auto& c : cases) {
        NSUserDefaults::standardUserDefaults()->setObject(c.stored, "TamarindAd:ViewableIntervalKey");
        auto container = addContainer();
        EXPECT_DOUBLE_EQ(container->viewabilityTimerInterval(), c.interval);
        load(container, "<script>tamarindmobileadsviewablebridge.addEventListener(Event.Viewability,"
                        " function (r) { record(r.viewablePercentage); });</script>");
        driver().advance(c.interval - 0.05);
        driver().settle();
        EXPECT_EQ(seenJSON(container), "[]");
        driver().advance(0.1);
        driver().settle();
        EXPECT_EQ(seenJSON(container), "[[100]]");
        // Leaving the window stops the timer.
        container->removeFromSuperview();
        EXPECT_FALSE(container->viewabilityCalculation()->timerActive());
    }

    // With only an MRAID bridge the timer runs each second.
    auto container = addContainer();
    auto bridges = load(container, "", flags(false, false, false));
    bridges->setMraidBridge(TMATMraidBridge::defaultBridge(controller));
    container->checkViewabilityCalcMethod();
    ASSERT_TRUE(container->viewabilityCalculation()->timer());
    EXPECT_DOUBLE_EQ(container->viewabilityCalculation()->timer()->timeInterval(), 1.0);
}

// The splash through the entry point's public calls, against the Trillium
// service on loopback, on the virtual clock: the ad loading before, between
// or after the minimum and maximum times, or failing; the display timer and
// the user's close or click; a second splash in the same run; the splash
// fields on the wire; the HTML page's ending; the engine wrapper's wait. The
// ad screen is the fixture's recording screen.
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/display/tests/TrilliumSplashTestSupport.h"

using simulator::Answer;

// The engine wrapper's own controller, recognised by its class name.
class UnityDefaultViewController : public UIViewController {};

class TRASplashOrchestrationTest : public TrilliumSplashTest {
protected:
    void SetUp() override {
        TrilliumSplashTest::SetUp();
        // Only the splash ad is served: no preloaded overlay, no return ad.
        NSUserDefaults::standardUserDefaults()->setInteger(0, "TRAAutoLoad");
        sdk = TRATrilliumSDK::sharedInstance();
        sdk->disableReturnAd();
        delegate = NSObject::alloc<RecordingAdDelegate>();
        rootViewController()->setModalPresentationStyle(UIModalPresentationFormSheet);
    }

    Ref<TRASplashPreferences> timedPreferences(int64_t minTime, int64_t displayTime = 86400) {
        auto prefs = preferences();
        prefs->setSplashMinTime(minTime);
        prefs->setSplashAdDisplayTime(displayTime);
        return prefs;
    }
    void request(const Ref<TRASplashPreferences>& prefs, std::optional<std::string> tag = std::nullopt) {
        sdk->showSplashAdWithDelegate(delegate, nullptr, prefs, tag);
    }
    // The splash screen is presented over the root controller.
    bool splashUp() {
        auto presented = rootViewController()->presentedViewController();
        return presented && presented == std::static_pointer_cast<UIViewController>(manager->splashViewController());
    }
    // The host as it was before the splash: style and status bar given back.
    void expectHostRestored() {
        EXPECT_FALSE(rootViewController()->presentedViewController());
        EXPECT_EQ(rootViewController()->modalPresentationStyle(), UIModalPresentationFormSheet);
        EXPECT_FALSE(UIApplication::sharedApplication()->isStatusBarHidden());
    }
    // Held until released, then answered with the service's ad page.
    void stallTheAd() { service.setHtmlAdAnswer(Answer::stall(Answer::ok(service.htmlAdPage({})))); }
    Ref<TRAViewControllerDelegate> shownAdDelegate() {
        return screens.empty() ? nullptr : screens.back()->delegate.lock();
    }

    Ref<TRATrilliumSDK> sdk;
    Ref<RecordingAdDelegate> delegate;
};

TEST_F(TRASplashOrchestrationTest, AdLoadedBeforeTheMinimumIsShownWhenItPassesAndTheDisplayTimerClosesIt) {
    request(timedPreferences(3, 5), std::string("splash-tag"));
    launch();
    settle();
    ASSERT_TRUE(splashUp());
    EXPECT_EQ(rootViewController()->modalPresentationStyle(), UIModalPresentationOverFullScreen);
    EXPECT_TRUE(UIApplication::sharedApplication()->isStatusBarHidden());
    EXPECT_EQ(delegate->events, std::vector<std::string>{"didLoadAd"});

    driver().advance(2.999);
    EXPECT_TRUE(screens.empty());
    EXPECT_TRUE(splashUp());
    driver().advance(0.001);
    ASSERT_EQ(screens.size(), 1u);
    EXPECT_EQ(screens[0]->tag, "splash-tag");
    EXPECT_FALSE(manager->splashViewController());
    driver().drain();
    expectHostRestored();

    // Shown: the display timer runs from here and closes the ad as a plain close.
    shownAdDelegate()->didShowAd();
    driver().advance(4.999);
    EXPECT_TRUE(screens[0]->closes.empty());
    driver().advance(0.001);
    EXPECT_EQ(screens[0]->closes, (std::vector<std::pair<bool, bool>>{{false, false}}));
    shownAdDelegate()->didCloseAdWithClick(false);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"didLoadAd", "didShowAd", "didCloseAd"}));
    EXPECT_FALSE(manager->splashAdDisplayTimer());
}

TEST_F(TRASplashOrchestrationTest, AdLoadedBetweenMinimumAndMaximumIsShownAtOnce) {
    stallTheAd();
    request(timedPreferences(2));
    launch();
    ASSERT_TRUE(service.server().waitForStalled(1, 10));
    driver().advance(2);
    EXPECT_TRUE(manager->isSplashScreenFinish());
    EXPECT_TRUE(splashUp());
    EXPECT_TRUE(screens.empty());
    service.server().releaseStalled();
    settle();
    ASSERT_EQ(screens.size(), 1u);
    expectHostRestored();
}

TEST_F(TRASplashOrchestrationTest, AdNotLoadedByTheMaximumEndsWithoutAdAndALateLoadChangesNothing) {
    stallTheAd();
    request(timedPreferences(2));
    launch();
    ASSERT_TRUE(service.server().waitForStalled(1, 10));
    driver().advance(6.999);
    EXPECT_TRUE(splashUp());
    driver().advance(0.001);
    EXPECT_FALSE(manager->splashViewController());
    EXPECT_FALSE(manager->trilliumSplashAd());
    driver().drain();
    expectHostRestored();

    service.server().releaseStalled();
    settle();
    driver().advance(60);
    EXPECT_TRUE(screens.empty());
    EXPECT_TRUE(delegate->events.empty());
}

TEST_F(TRASplashOrchestrationTest, LoadFailureEndsTheSplashAtOnce) {
    service.setHtmlAdAnswer(Answer::withStatus(500));
    request(timedPreferences(5));
    launch();
    settle();
    EXPECT_EQ(delegate->events, std::vector<std::string>{"failedLoadAd"});
    EXPECT_FALSE(manager->splashMinTimer());
    EXPECT_FALSE(manager->splashViewController());
    driver().drain();
    expectHostRestored();
    // The maximum timer still fires, and changes nothing.
    ASSERT_TRUE(manager->maxSplashTimer());
    EXPECT_TRUE(manager->maxSplashTimer()->isValid());
    driver().advance(10);
    EXPECT_TRUE(screens.empty());
    expectHostRestored();
}

TEST_F(TRASplashOrchestrationTest, UserClickOrCloseCancelsTheDisplayTimer) {
    request(timedPreferences(2, 10));
    launch();
    settle();
    driver().advance(2);
    ASSERT_EQ(screens.size(), 1u);
    shownAdDelegate()->didShowAd();
    ASSERT_TRUE(manager->splashAdDisplayTimer());
    shownAdDelegate()->didCloseAdWithClick(true);
    EXPECT_FALSE(manager->splashAdDisplayTimer());
    driver().advance(60);
    EXPECT_TRUE(screens[0]->closes.empty());
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"didLoadAd", "didShowAd", "didClickAd"}));
}

TEST_F(TRASplashOrchestrationTest, SecondSplashInTheSameRunWaitsForItsOwnAd) {
    request(timedPreferences(2));
    launch();
    settle();
    driver().advance(2);
    ASSERT_EQ(screens.size(), 1u);
    shownAdDelegate()->didShowAd();
    shownAdDelegate()->didCloseAdWithClick(false);

    // Later in the run: the screen goes up at once and its ad is not ready.
    stallTheAd();
    sdk->showInterstitialSplashAdWithDelegate(delegate, timedPreferences(2));
    ASSERT_TRUE(service.server().waitForStalled(1, 10));
    EXPECT_FALSE(manager->isSplashAdReady());
    driver().drain();
    ASSERT_TRUE(splashUp());
    driver().advance(2);
    EXPECT_TRUE(splashUp());
    EXPECT_EQ(screens.size(), 1u);
    driver().advance(5);
    EXPECT_FALSE(splashUp());
    EXPECT_EQ(screens.size(), 1u);
    EXPECT_EQ(std::count(delegate->events.begin(), delegate->events.end(), "failedShowAd"), 0);
    EXPECT_EQ(service.requestsTo(simulator::TrilliumService::kHtmlAdPath).size(), 2u);
}

TEST_F(TRASplashOrchestrationTest, RequestWhileTheScreenIsUpIsRefusedAndTheRunningSplashStillEnds) {
    expectLogLine("A splash is already running");
    stallTheAd();
    request(timedPreferences(2));
    launch();
    ASSERT_TRUE(service.server().waitForStalled(1, 10));
    driver().advance(2);  // the minimum has passed; the ad is still on its way
    sdk->showInterstitialSplashAdWithDelegate(delegate, timedPreferences(5));
    driver().drain();
    EXPECT_TRUE(manager->isSplashScreenFinish());
    EXPECT_EQ(service.requestsTo(simulator::TrilliumService::kHtmlAdPath).size(), 1u);
    // The first ad arrives before the maximum: shown at once, the screen gone.
    service.server().releaseStalled();
    settle();
    EXPECT_FALSE(splashUp());
    ASSERT_EQ(screens.size(), 1u);
    driver().advance(30);
    expectHostRestored();
}

TEST_F(TRASplashOrchestrationTest, WithoutTheApplicationsPreferencesNoSplashFieldsAreSent) {
    sdk->showSplashAdWithDelegate(delegate);
    settle();
    auto requests = htmlAdRequestsFor("INAPP_SPLASH");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].field("adType"), "5");
    for (const char* field : {"splashMode", "splashMinTime", "splashAdDisplayTime", "splashTemplateTheme"})
        EXPECT_FALSE(requests[0].field(field)) << field;
    EXPECT_TRUE(manager->isSplashAdEnabled());
    EXPECT_FALSE(manager->isSplashPreferencesUsed());
}

TEST_F(TRASplashOrchestrationTest, TheApplicationsPreferencesGoOnTheWireAsIntegers) {
    auto prefs = timedPreferences(3, 10);
    prefs->setSplashMode(2);
    prefs->setSplashTemplateTheme(4);
    request(prefs);
    settle();
    auto requests = htmlAdRequestsFor("INAPP_SPLASH");
    ASSERT_EQ(requests.size(), 1u);
    std::string query = requests[0].request.query.value_or("");
    EXPECT_TRUE(NSString::hasSuffix(query, "&splashMode=2&splashMinTime=3&splashAdDisplayTime=10&splashTemplateTheme=4"))
        << query;
}

TEST_F(TRASplashOrchestrationTest, HtmlSplashEndsThroughThePageWithOrWithoutTheAd) {
    // The server's HTML switch, stored from an earlier run and confirmed by this one.
    NSUserDefaults::standardUserDefaults()->setInteger(1, "TRAHtmlSplash");
    service.setConfig("{\"ttl\": 3600, \"adPlatformHost\": \"" + service.baseUrl() + "\", \"htmlSplash\": true}");
    auto prefs = timedPreferences(2);
    prefs->setSplashMode(2);
    request(prefs);
    launch();
    settle();
    ASSERT_TRUE(manager->splashViewController());
    ASSERT_TRUE(manager->splashViewController()->htmlWebView());
    driver().advance(2);
    // The page fades out; the manager waits for it.
    EXPECT_TRUE(splashUp());
    driver().advance(1.999);
    EXPECT_TRUE(screens.empty());
    driver().advance(0.001);
    EXPECT_EQ(screens.size(), 1u);
    driver().drain();
    expectHostRestored();

    // A second splash without its ad: the page ends it, and an ad that loads
    // while the page fades out does not follow.
    stallTheAd();
    sdk->showInterstitialSplashAdWithDelegate(delegate, prefs);
    ASSERT_TRUE(service.server().waitForStalled(1, 10));
    driver().advance(7);
    EXPECT_TRUE(splashUp());
    service.server().releaseStalled();
    settle();
    EXPECT_TRUE(manager->isSplashAdReady());
    driver().advance(2);
    EXPECT_FALSE(splashUp());
    EXPECT_FALSE(manager->trilliumSplashAd());
    EXPECT_EQ(screens.size(), 1u);
}

TEST_F(TRASplashOrchestrationTest, EngineWrapperWaitsWhileItsOwnControllerIsOnTop) {
    sdk->setIsUnityEnvironment(true);
    TRAAdSDKUtils::setUnityVersion("5.6");
    auto unity = NSObject::alloc<UnityDefaultViewController>();
    unity->init();
    rootViewController()->presentViewController(unity, false, nullptr);
    driver().drain();
    request(timedPreferences(5));
    launch();
    driver().advance(1);
    EXPECT_FALSE(manager->splashViewController());
    rootViewController()->dismissViewControllerAnimated(false, nullptr);
    driver().advance(0.2);
    EXPECT_TRUE(splashUp());
}

TEST_F(TRASplashOrchestrationTest, EngineWrapperBeforeVersionFiveGetsNoSplash) {
    expectLogLine("Splash ad is not supported for Unity version < 5");
    sdk->setIsUnityEnvironment(true);
    TRAAdSDKUtils::setUnityVersion("4.7");
    request(timedPreferences(5));
    launch();
    settle();
    driver().advance(10);
    EXPECT_FALSE(manager->splashViewController());
    EXPECT_TRUE(screens.empty());
    EXPECT_EQ(delegate->events, std::vector<std::string>{"didLoadAd"});
}

TEST_F(TRASplashOrchestrationTest, RealAdScreenShowsTheSplashAdAfterTheSplashAndTheDisplayTimerClosesIt) {
    registerTrilliumDisplayClasses();  // the library's own ad screen in the slot
    request(timedPreferences(2, 5));
    launch();
    settle();
    driver().advance(2);
    settle();
    // The splash screen is gone and the ad screen presented in its place.
    auto presented = rootViewController()->presentedViewController();
    ASSERT_TRUE(presented);
    EXPECT_EQ(presented->className(), "TRAAdViewController");
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"didLoadAd", "didShowAd"}));
    EXPECT_EQ(service.requestsTo(simulator::TrilliumService::kImpressionPath).size(), 1u);
    driver().advance(5);
    settle();
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"didLoadAd", "didShowAd", "didCloseAd"}));
    expectHostRestored();
}

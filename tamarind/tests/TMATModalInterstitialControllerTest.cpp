// The modal template interstitial against the Tamarind service: the whole
// cycle (load, prerender, isReady, present, impression pixel, MRAID as the
// creative sees it, the close and its order), the process-wide showing flag,
// expiry, refused presentations, a failed prerender, loads refused while
// shown, the controller kept alive while shown, the presented screen, and the
// user's ways out: a close area no creative can take away, sheets and prompts
// only for the user's taps, browser sheets that close over the ad, and
// dismissals the controller did not make.
#include "platform/store/SFSafariViewController.h"
#include "platform/store/SKStoreProductViewController.h"
#include "platform/testing/SnapshotComparison.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIApplication.h"
#include "tamarind/TMATModalInterstitialController.h"
#include "tamarind/TMMPAdBrowserController.h"
#include "tamarind/tests/TamarindTestSupport.h"

using simulator::Answer;
using simulator::TamarindAd;
using simulator::TamarindService;

namespace {

// Records the presentation callbacks too, and whether the ad's web view was
// still in a window when the dismissal was reported.
class TMATModalTestDelegate : public RecordingControllerDelegate {
public:
    void controllerWillPresentAd() override { record("willPresent"); }
    void controllerDidPresentAd() override { record("didPresent"); }
    void controllerWillDismissAd() override { record("willDismiss"); }
    void controllerDidDismissAd() override {
        record("didDismiss");
        webViewShownAtDismiss = webView && webView->window();
    }
    Ref<UIWebView> webView;
    bool webViewShownAtDismiss = false;
};

// Stands between a web view and its container and stops the page as soon as
// it starts loading.
class TMATModalTestStoppingDelegate : public NSObject, public UIWebViewDelegate {
public:
    Ref<TMATBaseAdContainer> container;
    void webViewDidStartLoad(Ref<UIWebView> webView) override {
        container->webViewDidStartLoad(webView);
        webView->stopLoading();
    }
    void webViewDidFinishLoad(Ref<UIWebView> webView) override { container->webViewDidFinishLoad(webView); }
    void webViewDidFailLoadWithError(Ref<UIWebView> webView, Ref<NSError> error) override {
        container->webViewDidFailLoadWithError(webView, error);
    }
};

// Its ad's page is stopped while it loads off screen, so the prerender fails.
class TMATModalTestStoppingController : public TMATModalInterstitialController {
public:
    void modelLoadedSuccessfully(Ref<TMAJSBridgesEnabled> bridges) override {
        TMATModalInterstitialController::modelLoadedSuccessfully(bridges);
        stopper->container = interstitialAdViewController()->interstitialAdContainer();
        stopper->container->webView()->setDelegate(stopper);
    }
    Ref<TMATModalTestStoppingDelegate> stopper = NSObject::alloc<TMATModalTestStoppingDelegate>();
};

}  // namespace

class TMATModalInterstitialControllerTest : public TamarindTest {
protected:
    void SetUp() override {
        TamarindTest::SetUp();
        service.setAd(TamarindAd{.creative = std::string(kTamarindRecordingPrelude) + kTamarindMraidRecorder +
                                             "<div>ghost ad</div>"});
        recorder = NSObject::alloc<TMATModalTestDelegate>();
        options = TamarindAdOptions::options();
        options->advancedOptions().set("slotId", Value("slot-9"));
    }
    Ref<TMATModalInterstitialController> makeController(const Ref<TMATModalTestDelegate>& delegate) {
        return TMATModalInterstitialController::adControllerWithDelegate(delegate);
    }
    // Loads and waits for the outcome.
    bool load(const Ref<TMATModalInterstitialController>& controller, const Ref<TMATModalTestDelegate>& delegate) {
        size_t before = delegate->events.size();
        controller->loadWithOptions(options, "interstitial", nullptr);
        bool done = waitFor([&] { return delegate->events.size() > before; });
        driver().drain();
        return done;
    }
    static Ref<TMATInterstitialAdContainer> containerOf(const Ref<TMATModalInterstitialController>& controller) {
        return controller->interstitialAdViewController()->interstitialAdContainer();
    }
    static std::string page(const Ref<TMATModalInterstitialController>& controller, const std::string& script) {
        return containerOf(controller)->webView()->stringByEvaluatingJavaScriptFromString(script);
    }
    // The intent counters ("il", "fil", "nil") the service has received, in order.
    std::vector<std::string> intentCounters() const {
        std::vector<std::string> counted;
        for (const auto& fields : service.instrumentationPixels())
            for (const char* name : {"il", "fil", "nil"})
                if (TamarindService::field(fields, name)) counted.push_back(name);
        return counted;
    }

    Ref<TMATModalTestDelegate> recorder;
    Ref<TamarindAdOptions> options;
};

TEST_F(TMATModalInterstitialControllerTest, LoadsPresentsFiresTheImpressionAndClosesInOrder) {
    auto controller = makeController(recorder);
    ASSERT_TRUE(load(controller, recorder));
    EXPECT_EQ(recorder->events, std::vector<std::string>{"didLoad"});
    EXPECT_TRUE(controller->prerendered());
    EXPECT_TRUE(controller->isReady());
    auto container = containerOf(controller);
    EXPECT_EQ(container->slotID(), "slot-9");
    EXPECT_FALSE(container->window());
    EXPECT_EQ(page(controller, "JSON.stringify(seen)"),
              R"([["script","loading","interstitial"],["sizeChange","default",320,568],)"
              R"(["stateChange","default","default"],["ready","default"]])");
    EXPECT_TRUE(service.requestsUnder(TamarindService::kImpressionPath).empty());

    controller->presentFromViewController(rootViewController());
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"didLoad", "willPresent", "didPresent"}));
    EXPECT_EQ(rootViewController()->presentedViewController(), controller->interstitialAdViewController());
    EXPECT_TRUE(controller->isDisplayed());
    EXPECT_TRUE(TMATModalInterstitialController::isAnyInterstitialDisplayed());
    ASSERT_TRUE(waitForRequests("/pixel/impression/ad1", 1));
    // The creative is on screen: the first measurement makes it viewable (its
    // overlap pass goes through a global queue, so it is waited for), later
    // ones tell nothing new, and an interstitial does not expand.
    page(controller, "seen = [];");
    driver().advance(1);
    ASSERT_TRUE(waitFor([&] { return controller->bridgeManager()->mraidBridge()->isViewable(); }));
    driver().drain();
    page(controller, "mraid.expand();");
    driver().advance(1);
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(page(controller, "JSON.stringify(seen)"),
              R"([["viewableChange","default",true],)"
              R"(["error","default","Unable to expand an intersitial ad placement","expand"]])");

    // A creative cannot take the native close button away.
    page(controller, "mraid.useCustomClose(true);");
    driver().drain();
    EXPECT_EQ(container->closeButton()->superview(), container);

    recorder->webView = container->webView();
    auto shown = controller->interstitialAdViewController();
    // The user taps the ad, then the close button.
    window()->simulateTap(container->webView());
    window()->simulateTap(container->closeButton());
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"didLoad", "willPresent", "didPresent", "willDismiss",
                                                          "didDismiss"}));
    EXPECT_TRUE(recorder->webViewShownAtDismiss);
    EXPECT_FALSE(TMATModalInterstitialController::isAnyInterstitialDisplayed());
    EXPECT_FALSE(controller->isDisplayed());
    EXPECT_EQ(controller->adModel()->loadStatus(), TMATLoadStatusNoAd);
    // The page calling on after the close, within the second of that tap, changes nothing.
    recorder->webView->stringByEvaluatingJavaScriptFromString(
        "mraid.open('http://landing.example/'); mraid.storePicture('http://pictures.example/p.png');"
        "mraid.expand(); mraid.close(); mraid.setExpandProperties({width: 1});");
    EXPECT_TRUE(container->superview());
    driver().advance(1);
    EXPECT_FALSE(container->superview());
    EXPECT_FALSE(shown->interstitialAdContainer());
    EXPECT_FALSE(rootViewController()->presentedViewController());
    EXPECT_TRUE(SFSafariViewController::presentedURLs().empty());
    // Nor does a second tap.
    controller->closeButtonPressed();
    driver().advance(1);
    EXPECT_EQ(recorder->events.size(), 5u);
    EXPECT_FALSE(rootViewController()->presentedViewController());

    // The display time reached the ad's instrumentation pixel.
    ASSERT_TRUE(waitFor([&] {
        for (const auto& fields : service.instrumentationPixels())
            if (TamarindService::field(fields, "i_sd")) return true;
        return false;
    }));
    EXPECT_EQ(service.requestsUnder(TamarindService::kImpressionPath).size(), 1u);
}

TEST_F(TMATModalInterstitialControllerTest, OneInterstitialShowsAtATimeAndAShownOneRefusesLoads) {
    expectLogLine("Interstitial is already showing. Skipped presenting the interstitial.");
    expectLogLine("is showing an ad. Ignored the ad load request.");
    auto second = NSObject::alloc<TMATModalTestDelegate>();
    auto first = makeController(recorder);
    auto other = makeController(second);
    ASSERT_TRUE(load(first, recorder));
    ASSERT_TRUE(load(other, second));
    EXPECT_TRUE(other->isReady());
    first->presentFromViewController(rootViewController());
    EXPECT_FALSE(other->isReady());
    EXPECT_EQ(other->adModel()->loadStatus(), TMATLoadStatusLoaded);

    // A load while shown is refused before anything is cleared: the close still works.
    size_t requests = service.requestsTo(TamarindService::kAdPath).size();
    first->loadWithOptions(options, "interstitial", nullptr);
    driver().advance(1);
    EXPECT_EQ(service.requestsTo(TamarindService::kAdPath).size(), requests);
    EXPECT_TRUE(first->isDisplayed());

    // The publisher lets go of its ad object: the shown ad keeps its controller.
    Weak<TMATModalInterstitialController> weakFirst = first;
    auto button = containerOf(first)->closeButton();
    first.reset();
    ASSERT_FALSE(weakFirst.expired());
    window()->simulateTap(button);
    EXPECT_EQ(recorder->events.back(), "didDismiss");
    driver().advance(1);
    EXPECT_TRUE(weakFirst.expired());
    EXPECT_TRUE(other->isReady());
}

TEST_F(TMATModalInterstitialControllerTest, AnExpiredAdIsNotReadyAndStaysLoaded) {
    expectLogLine("Interstitial has expired. Please load a new one.");
    expectLogLine("Interstitial is not ready. Load interstitial or wait for the load to finish if already loading.");
    expectLogLine("Cannot render interstitial. No client view controller is supplied for rendering the interstitial.");
    service.setAd(TamarindAd{.cacheTTL = 60});
    auto controller = makeController(recorder);
    EXPECT_FALSE(controller->isReady());
    ASSERT_TRUE(load(controller, recorder));
    controller->presentFromViewController(nullptr);
    driver().advance(59);
    EXPECT_TRUE(controller->isReady());
    driver().advance(2);
    EXPECT_FALSE(controller->isReady());
    EXPECT_EQ(controller->adModel()->loadStatus(), TMATLoadStatusLoaded);
    controller->presentFromViewController(rootViewController());
    EXPECT_FALSE(rootViewController()->presentedViewController());
    EXPECT_EQ(recorder->events, std::vector<std::string>{"didLoad"});
}

TEST_F(TMATModalInterstitialControllerTest, APresentationTheClientCannotMakeIsAFailure) {
    expectLogLine("Modal interstitial failed to render: The interstitial cannot be presented: the client view "
                  "controller is not on screen.");
    expectLogLine("the client view controller already presents UIViewController.");
    auto controller = makeController(recorder);
    ASSERT_TRUE(load(controller, recorder));
    controller->presentFromViewController(UIViewController::alloc()->init());
    ASSERT_EQ(recorder->events, (std::vector<std::string>{"didLoad", "failed"}));
    EXPECT_EQ(recorder->lastError()->domain(), "TMAAdControllerError");
    EXPECT_EQ(recorder->lastError()->code(), 2);
    EXPECT_FALSE(TMATModalInterstitialController::isAnyInterstitialDisplayed());
    EXPECT_FALSE(controller->isDisplayed());
    EXPECT_FALSE(controller->isReady());

    // A client already presenting something.
    rootViewController()->presentViewController(UIViewController::alloc()->init(), false, nullptr);
    ASSERT_TRUE(load(controller, recorder));
    controller->presentFromViewController(rootViewController());
    EXPECT_EQ(recorder->events.back(), "failed");
    EXPECT_FALSE(TMATModalInterstitialController::isAnyInterstitialDisplayed());
    driver().advance(1);
    EXPECT_TRUE(service.requestsUnder(TamarindService::kImpressionPath).empty());
}

TEST_F(TMATModalInterstitialControllerTest, AFailedPrerenderReportsAControllerErrorAndResetsTheModel) {
    expectLogLine("Modal interstitial failed to prerender:");
    auto controller = TMATBaseAdController::adControllerWithDelegate<TMATModalTestStoppingController>(recorder);
    ASSERT_TRUE(load(controller, recorder));
    ASSERT_EQ(recorder->events, std::vector<std::string>{"failed"});
    EXPECT_EQ(recorder->lastError()->domain(), "TMAAdControllerError");
    EXPECT_EQ(recorder->lastError()->code(), 2);
    EXPECT_EQ(controller->adModel()->loadStatus(), TMATLoadStatusNoAd);
    EXPECT_FALSE(controller->isReady());
    ASSERT_TRUE(waitFor([&] {
        for (const auto& fields : service.instrumentationPixels())
            if (TamarindService::field(fields, "lf")) return true;
        return false;
    }));
}

TEST_F(TMATModalInterstitialControllerTest, ThePresentedScreen) {
    auto controller = makeController(recorder);
    ASSERT_TRUE(load(controller, recorder));
    controller->presentFromViewController(rootViewController());
    driver().advance(1);
    EXPECT_TRUE(platform::testing::SnapshotComparison::windowMatchesReference(
        window(), "tamarind/tests/data/modal_interstitial.png", home()));
}

// ---- the user's ways out ---------------------------------------------------------------------------------

TEST_F(TMATModalInterstitialControllerTest, ACreativeThatTakesItsCloseButtonAwayIsStillClosedByATapInTheArea) {
    // "tamarind.js" in the text gives the creative the "tamarind" bridge.
    service.setAd(TamarindAd{.creative = std::string(kTamarindRecordingPrelude) + kTamarindMraidRecorder +
                                         "<script>/* tamarind.js */ tamarind.enableCloseButton(false);"
                                         "mraid.useCustomClose(true); mraid.close();"
                                         "setInterval(function () { tamarind.enableCloseButton(false); }, 100);"
                                         "</script>"});
    auto controller = makeController(recorder);
    ASSERT_TRUE(load(controller, recorder));
    controller->presentFromViewController(rootViewController());
    driver().advance(1);
    auto container = containerOf(controller);
    auto button = container->closeButton();
    ASSERT_TRUE(button);
    EXPECT_EQ(button->superview(), container);
    EXPECT_EQ(button->frame(), CGRectMake(262, 8, 50, 50));
    EXPECT_FALSE(button->imageForState(UIControlStateNormal));
    EXPECT_NE(page(controller, "JSON.stringify(seen)").find("The ad is currently not expanded"), std::string::npos);

    window()->simulateTap(CGPointMake(300, 20));
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"didLoad", "willPresent", "didPresent", "willDismiss",
                                                          "didDismiss"}));
    driver().advance(1);
    EXPECT_FALSE(rootViewController()->presentedViewController());
    EXPECT_FALSE(TMATModalInterstitialController::isAnyInterstitialDisplayed());
}

// A creative asking every 100 ms for sheets, a prompt and ways out of the app
// (the browser sheet, the permission prompt, the store sheet of a store link
// or of an intent, the system browser, a call, by its bridges or its own
// navigation) gets one per tap of the user on the ad, never one of its own:
// after each "Done" or "Cancel" nothing covers the close area, and a tap
// there ends the ad. Only the intents the user's taps opened are counted.
TEST_F(TMATModalInterstitialControllerTest, ACreativeOpeningOnATimerGetsOneWayOutPerTapAndTheCloseStaysReachable) {
    using platform::testing::StoreSheet;
    profile().storeSheetLoads = true;
    const std::string open = "mraid.open('http://landing.example/');";
    const std::string picture = "mraid.storePicture('" + service.url(TamarindService::kPicturePath) + "');";
    const std::string store = "tamarind.openInExternalBrowser('https://apps.store.invalid/app/ghost-radar/id1234');";
    const std::string intent = "tamarind.openInExternalBrowser('tamarindmobile://intent?intent=https%3A%2F%2F"
                               "apps.store.invalid%2Fapp%2Fghost-radar%2Fid1234');";
    const std::string outside = "tamarind.openInExternalBrowser('http://landing.example/outside');";
    const std::string leave = "tamarind.openInExternalBrowser('tel:5550100'); location.href = 'tel:5550101';";
    struct Hostile {
        std::string first;  // the call that gets the user's tap
        std::string presents;  // empty: it opens outside the app
    };
    for (const Hostile& hostile : {Hostile{open, "SFSafariViewController"}, Hostile{picture, "UIAlertController"},
                                   Hostile{store, "SKStoreProductViewController"},
                                   Hostile{intent, "SKStoreProductViewController"}, Hostile{outside, ""}}) {
        SCOPED_TRACE(hostile.first);
        // "tamarind.js" in the text gives the creative the "tamarind" bridge.
        service.setAd(TamarindAd{.creative = "<script>/* tamarind.js */ setInterval(function () {" + hostile.first +
                                             open + picture + store + intent + outside + leave + "}, 100);</script>"});
        auto delegate = NSObject::alloc<TMATModalTestDelegate>();
        auto controller = makeController(delegate);
        ASSERT_TRUE(load(controller, delegate));
        controller->presentFromViewController(rootViewController());
        driver().advance(1);
        auto shown = controller->interstitialAdViewController();
        auto container = containerOf(controller);
        EXPECT_FALSE(shown->presentedViewController());  // nothing without the user
        EXPECT_TRUE(UIApplication::sharedApplication()->openedURLs().empty());

        for (int round = 0; round < 5; ++round) {
            window()->simulateTap(container->webView());
            driver().advance(0.2);
            auto presented = shown->presentedViewController();
            if (hostile.presents.empty()) {
                EXPECT_FALSE(presented) << round;
                EXPECT_EQ(UIApplication::sharedApplication()->openedURLs().size(), round + 1u);
                continue;
            }
            ASSERT_TRUE(presented) << round;
            ASSERT_EQ(presented->className(), hostile.presents) << round;
            if (auto alert = std::dynamic_pointer_cast<UIAlertController>(presented)) {
                EXPECT_EQ(alert->title(), "Permissions");
                alert->simulateTapActionAtIndex(0);  // "Cancel"
            } else if (auto sheet = std::dynamic_pointer_cast<SFSafariViewController>(presented)) {
                SFSafariViewController::simulateDone(sheet);
            } else {
                StoreSheet::simulateUserClose(std::dynamic_pointer_cast<SKStoreProductViewController>(presented));
            }
            driver().advance(0.5);
            EXPECT_FALSE(shown->presentedViewController()) << round;
            EXPECT_EQ(window()->hitTest(CGPointMake(300, 20), nullptr).get(), container->closeButton().get()) << round;
        }
        window()->simulateTap(CGPointMake(300, 20));
        EXPECT_EQ(delegate->events.back(), "didDismiss");
        driver().advance(1);
        EXPECT_FALSE(rootViewController()->presentedViewController());
        EXPECT_FALSE(TMATModalInterstitialController::isAnyInterstitialDisplayed());
    }
    EXPECT_EQ(SFSafariViewController::presentedURLs().size(), 5u);
    EXPECT_TRUE(service.requestsTo(TamarindService::kPicturePath).empty());
    EXPECT_EQ(StoreSheet::loadedParameters().size(), 10u);
    const auto opened = UIApplication::sharedApplication()->openedURLs();
    ASSERT_EQ(opened.size(), 5u);
    for (const auto& url : opened) EXPECT_EQ(url->absoluteString(), "http://landing.example/outside");
    // The five intents the user's taps opened were counted; no refused one was.
    ASSERT_TRUE(waitFor([&] { return intentCounters().size() >= 5; }));
    EXPECT_EQ(intentCounters(), std::vector<std::string>(5, "il"));
}

// A creative asking every 10 ms, with nothing on screen for it, for ways out
// (an intent to the store, the system browser, a sheet, a prompt, a call by
// navigation) opens nothing and sends the service nothing; each kind of call
// logs its first refusal, then how many more there were.
TEST_F(TMATModalInterstitialControllerTest, ACreativeRefusedEvery10MsSendsNothingAndLogsAFirstLineThenACount) {
    const std::string tapped = "the user has not tapped the ad";
    const std::string intent = "tamarind.openInExternalBrowser('tamarindmobile://intent?intent=https%3A%2F%2F"
                               "apps.store.invalid%2Fapp%2Fghost-radar%2Fid1234');";
    service.setAd(TamarindAd{.creative = "<script>/* tamarind.js */ var calls = 0;"
                                         "var timer = setInterval(function () { calls++; " + intent +
                                         "tamarind.openInExternalBrowser('http://landing.example/outside');"
                                         "mraid.open('http://landing.example/');"
                                         "mraid.storePicture('" + service.url(TamarindService::kPicturePath) + "');"
                                         "location.href = 'tel:5550100'; }, 10);</script>"});
    profile().storeSheetLoads = true;
    auto controller = makeController(recorder);
    ASSERT_TRUE(load(controller, recorder));
    controller->presentFromViewController(rootViewController());
    driver().advance(5);
    const int calls = std::stoi(page(controller, "clearInterval(timer); String(calls)"));
    EXPECT_GE(calls, 490);
    EXPECT_FALSE(controller->interstitialAdViewController()->presentedViewController());
    EXPECT_TRUE(UIApplication::sharedApplication()->openedURLs().empty());
    EXPECT_TRUE(platform::testing::StoreSheet::loadedParameters().empty());
    // One line per kind of call: the bridges' three and the page's navigation.
    EXPECT_EQ(logCapture().count(tapped), 4u);
    // The two calls of the first turn make one line, which says they differ.
    EXPECT_TRUE(logCapture().contains("TamarindAd [Error]: tamarind.openInExternalBrowser: Unable to open "
                                      "tamarindmobile://intent?intent="));
    EXPECT_TRUE(logCapture().contains("5 s of it) (2 in all, not all alike)"));
    driver().advance(10);
    EXPECT_EQ(logCapture().count(tapped), 8u);
    const std::string more = " more in 10 s)";
    EXPECT_TRUE(logCapture().contains("http://landing.example/outside: " + tapped + " (one such call per tap, within "
                                      "5 s of it) (" + std::to_string(2 * calls - 2) +
                                      " more in 10 s, not all alike)"));
    EXPECT_TRUE(logCapture().contains("mraid.open: Unable to open http://landing.example/: " + tapped));
    EXPECT_TRUE(logCapture().contains("The ad's page: Unable to leave the ad for tel:5550100: " + tapped));
    // mraid.open (its refusal and its debug line), mraid.storePicture and the page's navigations.
    EXPECT_EQ(logCapture().count("(" + std::to_string(calls - 1) + more), 4u);

    // The user's tap: the intent opens the store sheet, and its count is the only one the service gets.
    window()->simulateTap(containerOf(controller)->webView());
    page(controller, intent);
    ASSERT_TRUE(waitFor([&] { return !intentCounters().empty(); }));
    driver().drain();
    EXPECT_EQ(intentCounters(), std::vector<std::string>{"il"});
    EXPECT_TRUE(service.requestsTo(TamarindService::kPicturePath).empty());
}

TEST_F(TMATModalInterstitialControllerTest, TheBrowserSheetOfAnOpenClosesOnDoneOverTheAd) {
    auto controller = makeController(recorder);
    ASSERT_TRUE(load(controller, recorder));
    controller->presentFromViewController(rootViewController());
    auto shown = controller->interstitialAdViewController();
    window()->simulateTap(containerOf(controller)->webView());
    page(controller, "mraid.open('http://landing.example/page');");
    driver().advance(1);
    auto sheet = std::dynamic_pointer_cast<SFSafariViewController>(shown->presentedViewController());
    ASSERT_TRUE(sheet);

    SFSafariViewController::simulateDone(sheet);
    SFSafariViewController::simulateDone(sheet);
    driver().advance(1);
    EXPECT_FALSE(shown->presentedViewController());
    EXPECT_EQ(rootViewController()->presentedViewController(), shown);
    EXPECT_TRUE(controller->isDisplayed());
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"didLoad", "willPresent", "didPresent"}));
}

TEST_F(TMATModalInterstitialControllerTest, BelowNineTheBrowserClosesOnceAndADismissalByAnyoneEndsTheAd) {
    profile().systemVersion = "8.4";
    service.setAnswer("GET", "/landing", Answer::ok("<html><body>landing</body></html>"));
    auto second = NSObject::alloc<TMATModalTestDelegate>();
    auto first = makeController(recorder);
    auto other = makeController(second);
    ASSERT_TRUE(load(first, recorder));
    ASSERT_TRUE(load(other, second));
    first->presentFromViewController(rootViewController());
    auto shown = first->interstitialAdViewController();
    window()->simulateTap(containerOf(first)->webView());
    page(first, "mraid.open('" + service.url("/landing") + "');");
    driver().advance(1);
    auto browser = std::dynamic_pointer_cast<TMMPAdBrowserController>(shown->presentedViewController());
    ASSERT_TRUE(browser);

    // Two taps before the first dismissal has run: the browser goes, the ad stays.
    browser->closeButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    browser->closeButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    driver().advance(1);
    EXPECT_FALSE(shown->presentedViewController());
    EXPECT_EQ(rootViewController()->presentedViewController(), shown);
    EXPECT_TRUE(first->isDisplayed());

    // The application dismisses the ad itself: the controller ends it as its close button does.
    expectLogLine("The interstitial was dismissed by someone else; its presentation ends.");
    rootViewController()->dismissViewControllerAnimated(true, nullptr);
    driver().advance(1);
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"didLoad", "willPresent", "didPresent", "willDismiss",
                                                          "didDismiss"}));
    EXPECT_FALSE(first->isDisplayed());
    EXPECT_FALSE(shown->interstitialAdContainer());
    EXPECT_FALSE(TMATModalInterstitialController::isAnyInterstitialDisplayed());

    ASSERT_TRUE(other->isReady());
    other->presentFromViewController(rootViewController());
    EXPECT_EQ(rootViewController()->presentedViewController(), other->interstitialAdViewController());
    EXPECT_EQ(second->events.back(), "didPresent");
}

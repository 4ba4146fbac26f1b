// The modeless template interstitial against the Tamarind service: rendered
// into the application's view at load, then presented and hidden by the
// application under the size rules (the 380-point side, exactly 75 % of the
// screen against 74.9 %, wholly on screen), the aspect-ratio count, one
// impression per ad, refused attempts reported with the next load, onHidden
// refused when hidden, and expiry.
#include "tamarind/TMATModelessInterstitialController.h"
#include "tamarind/tests/TamarindTestSupport.h"

using simulator::TamarindAd;
using simulator::TamarindService;

namespace {

class TMATModelessTestDelegate : public RecordingControllerDelegate {
public:
    void adHasExpired() override { record("expired"); }
};

}  // namespace

class TMATModelessInterstitialControllerTest : public TamarindTest {
protected:
    void SetUp() override {
        TamarindTest::SetUp();
        recorder = NSObject::alloc<TMATModelessTestDelegate>();
        containerView = UIView::alloc();
        containerView->initWithFrame(CGRectMake(0, 0, 320, 480));
        window()->addSubview(containerView);
        controller = TMATModelessInterstitialController::adControllerWithDelegate(recorder, containerView);
    }
    bool load() {
        size_t before = recorder->events.size();
        controller->loadWithOptions(TamarindAdOptions::options(), "interstitial", nullptr);
        bool done = waitFor([&] { return recorder->events.size() > before; });
        driver().drain();
        return done;
    }
    bool presentedIn(CGRect frame) {
        containerView->setFrame(frame);
        return controller->onPresented();
    }
    // The fields of the instrumentation pixel that carries `name`; empty when none came.
    simulator::QueryFields pixelWith(const std::string& name) {
        simulator::QueryFields found;
        waitFor([&] {
            for (const auto& fields : service.instrumentationPixels())
                if (TamarindService::field(fields, name)) found = fields;
            return !found.empty();
        });
        return found;
    }

    Ref<TMATModelessTestDelegate> recorder;
    Ref<UIView> containerView;
    Ref<TMATModelessInterstitialController> controller;
};

TEST_F(TMATModelessInterstitialControllerTest, TheSizeRulesCountsAndOneImpressionPerAd) {
    expectLogLine("One side of the modeless interstitial's view container must be at least 380 points.");
    expectLogLine("must be at least 75% of the area of the screen size. Calling onPresented ignored.");
    expectLogLine("The modeless interstitial is not fully presented on screen. Calling onPresented ignored.");
    expectLogLine("The modeless interstitial is already presented.");
    expectLogLine("aspect ratio is less than the screen aspect ratio.");
    expectLogLine("The modeless interstitial is already hidden. Calling onHidden ignored.");
    ASSERT_TRUE(load());
    EXPECT_EQ(recorder->events, std::vector<std::string>{"didLoad"});
    auto container = controller->interstitialAdContainer();
    ASSERT_TRUE(container);
    EXPECT_EQ(container->superview(), containerView);
    EXPECT_FALSE(container->isUserInteractionEnabled());
    EXPECT_EQ(controller->bridgeManager()->mraidBridge()->getPlacementType(), "interstitial");

    // 320 x 568 screen: 136320 points² is exactly 75 %.
    EXPECT_FALSE(presentedIn(CGRectMake(0, 0, 300, 300)));
    EXPECT_FALSE(presentedIn(CGRectMake(0, 0, 320, 425.4f)));  // 74.9 %
    EXPECT_FALSE(presentedIn(CGRectMake(0, 100, 320, 480)));
    EXPECT_TRUE(presentedIn(CGRectMake(0, 0, 320, 426)));
    EXPECT_EQ(container->frame(), CGRectMake(0, 0, 320, 426));
    EXPECT_TRUE(container->isUserInteractionEnabled());
    EXPECT_TRUE(presentedIn(CGRectMake(0, 0, 320, 426)));
    EXPECT_EQ(controller->aspectRatioFailures(), 0);
    EXPECT_TRUE(presentedIn(CGRectMake(0, 0, 300, 568)));  // narrower than the screen: counted, not refused
    EXPECT_EQ(controller->aspectRatioFailures(), 1);
    EXPECT_EQ(controller->failedAttemptsToPresent(), 3);
    EXPECT_EQ(controller->numberOfAppearances(), 1);

    controller->onHidden();
    EXPECT_FALSE(container->isUserInteractionEnabled());
    controller->onHidden();
    EXPECT_TRUE(presentedIn(CGRectMake(0, 0, 320, 480)));
    EXPECT_EQ(controller->numberOfAppearances(), 2);
    ASSERT_TRUE(waitForRequests("/pixel/impression/ad1", 1));
    driver().advance(1);
    EXPECT_EQ(service.requestsUnder(TamarindService::kImpressionPath).size(), 1u);
    EXPECT_TRUE(pixelWith("mi_sd").size());

    // The next load reports this ad's counts to this ad's pixel, then loads anew.
    service.setAd(TamarindAd{.id = "ad2"});
    ASSERT_TRUE(load());
    EXPECT_FALSE(container->superview());
    auto counts = pixelWith("mi_rrcfc");
    EXPECT_EQ(TamarindService::field(counts, "mi_rc"), "1");
    EXPECT_EQ(TamarindService::field(counts, "mi_rac"), "1");
    EXPECT_EQ(TamarindService::field(counts, "mi_rrcfc"), "3");
    EXPECT_EQ(TamarindService::field(counts, "mi_rarfc"), "1");
    EXPECT_TRUE(waitForRequests("/pixel/instrumentation/ad2", 1));  // the load's own
    EXPECT_EQ(controller->numberOfAppearances(), 0);
    EXPECT_FALSE(controller->isImpressionPixelFired());
    EXPECT_TRUE(presentedIn(CGRectMake(0, 0, 320, 480)));
    ASSERT_TRUE(waitForRequests("/pixel/impression/ad2", 1));
}

TEST_F(TMATModelessInterstitialControllerTest, UnloadedAndExpiredAdsAreRefused) {
    expectLogLine("The modeless interstitial has not been loaded. Calling onPresented ignored.");
    expectLogLine("The modeless interstitial has expired. Calling onPresented ignored.");
    EXPECT_FALSE(controller->onPresented());
    service.setAd(TamarindAd{.cacheTTL = 60});
    ASSERT_TRUE(load());
    driver().advance(61);
    EXPECT_FALSE(controller->onPresented());
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"didLoad", "expired"}));
    EXPECT_FALSE(controller->isDisplayed());
    driver().advance(1);
    EXPECT_TRUE(service.requestsUnder(TamarindService::kImpressionPath).empty());
}

// The interstitial dialog over the window: displayed at the end of the
// fade-in (or at attach without it), the close button's reveal after the
// ad's close delay, a click then hidden, hidden reported once (a double
// dismissal, "/close_ad" from the page), both layouts (visual formats with
// "{statusBarHeight}" and server formats that do not parse; frames with the
// close button's corner), rotation, the shared dialog of showOver, and a
// closed dialog let go whatever its close delay.
#include <numbers>

#include "halcyon/core/HLSettingsManager.h"
#include "halcyon/display/HLInterstitialAd.h"
#include "halcyon/display/HLInterstitialDialogView.h"
#include "halcyon/display/tests/HalcyonDisplayTestSupport.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"

namespace {

class HLInterstitialDialogViewTest : public HalcyonDisplayTest {
protected:
    void SetUp() override {
        HalcyonDisplayTest::SetUp();
        interstitial = NSObject::alloc<HLInterstitialAd>()->initWithSdk(sdk);
        interstitial->setAdDisplayDelegate(display);
        interstitial->setAdLoadDelegate(load);
    }
    // A dialog whose ad page has loaded (and so attached itself).
    Ref<HLInterstitialDialogView> shownDialog(const Ref<HLAd>& ad) {
        EXPECT_TRUE(ad);
        interstitial->showOver(window(), std::string("p"), ad);
        auto dialog =
            std::dynamic_pointer_cast<HLInterstitialDialogView>(interstitial->currentInterstitialController());
        EXPECT_TRUE(settle());
        return dialog;
    }
    Ref<HLAd> adWithCloseDelay(int64_t id, int seconds) {
        return renderedAd("INTER", id, "\"close_delay_graphic\": " + std::to_string(seconds));
    }

    Ref<HLInterstitialAd> interstitial;
    Ref<HLRecordingDisplayDelegate> display = std::make_shared<HLRecordingDisplayDelegate>("display", journal);
    Ref<HLRecordingLoadDelegate> load = std::make_shared<HLRecordingLoadDelegate>("load", journal);
};

}  // namespace

TEST_F(HLInterstitialDialogViewTest, FadesInThenReportsDisplayedAndRevealsTheCloseButtonAfterItsDelay) {
    auto dialog = shownDialog(adWithCloseDelay(1, 3));
    EXPECT_EQ(dialog->superview(), window());
    EXPECT_EQ(dialog->adView()->alpha(), 1);  // fading in for 0.3 s
    EXPECT_TRUE(journal->empty());
    EXPECT_TRUE(dialog->closeButton()->isHidden());
    driver().advance(0.3);
    EXPECT_EQ(*journal, (std::vector<std::string>{"display displayed 1"}));
    EXPECT_EQ(display->lastView(), dialog);
    EXPECT_EQ(dialog->subviews().back(), dialog->closeButton());
    driver().advance(2.9);
    EXPECT_TRUE(dialog->closeButton()->isHidden());
    driver().advance(0.2);
    EXPECT_FALSE(dialog->closeButton()->isHidden());
    EXPECT_EQ(dialog->closeButton()->alpha(), 1);

    // Without a delay the button fades in with the ad.
    auto quick = shownDialog(adWithCloseDelay(2, 0));
    EXPECT_FALSE(quick->closeButton()->isHidden());
    EXPECT_EQ(quick->closeButton()->alpha(), 1);
}

TEST_F(HLInterstitialDialogViewTest, WithoutFadeInDisplayedIsReportedAtAttach) {
    setSlot(59, Value(false));
    auto dialog = shownDialog(adWithCloseDelay(3, 2));
    EXPECT_EQ(*journal, (std::vector<std::string>{"display displayed 3"}));
    EXPECT_TRUE(dialog->closeButton()->isHidden());
    driver().advance(2.0);
    EXPECT_FALSE(dialog->closeButton()->isHidden());

    // The close button's tap dismisses: hidden, the dialog gone.
    window()->simulateTap(dialog->closeButton());
    driver().drain();
    EXPECT_EQ(*journal, (std::vector<std::string>{"display displayed 3", "display hidden 3"}));
    EXPECT_FALSE(dialog->superview());
}

TEST_F(HLInterstitialDialogViewTest, ATappedLinkReportsClickedThenHiddenOnce) {
    simulator::HalcyonAd ad;
    ad.size = "INTER";
    ad.adId = 4;
    ad.html = "<html><body><a id='go' href='" + service.server().url(simulator::HalcyonService::kLandingPath) +
              "'>go</a></body></html>";
    auto dialog = shownDialog(renderedAd(ad));
    driver().advance(0.3);
    auto adView = dialog->adView();
    // A double tap: the second lands before the dismissal's removal has run.
    ASSERT_TRUE(adView->adWebView()->simulateLinkClick("go"));
    ASSERT_TRUE(adView->adWebView()->simulateLinkClick("go"));
    ASSERT_TRUE(settle());
    // The click path dismisses the dialog too: hidden still comes once, and
    // the second tap is neither tracked, reported nor opened.
    EXPECT_EQ(*journal,
              (std::vector<std::string>{"display displayed 4", "display clicked 4", "display hidden 4"}));
    EXPECT_EQ(service.requestsTo(simulator::HalcyonService::postbackPath("click")).size(), 1u);
    EXPECT_EQ(UIApplication::sharedApplication()->openedURLs().size(), 1u);
    EXPECT_FALSE(dialog->superview());
    EXPECT_TRUE(adView->foregroundClickInvalidated());

    // With the click overlay on, a click leaves the dialog up.
    setSlot(115, Value(true));
    auto staying = shownDialog(adWithCloseDelay(5, 0));
    EXPECT_FALSE(staying->dismissesOnClick());
    staying->adWasClickedIn(staying->currentAd(), staying->adView());
    driver().drain();
    EXPECT_EQ(staying->superview(), window());
}

TEST_F(HLInterstitialDialogViewTest, ADialogClosedBeforeItsPageLoadedNeverShows) {
    interstitial->showOver(window(), std::string("p"), adWithCloseDelay(11, 0));
    auto dialog = std::dynamic_pointer_cast<HLInterstitialDialogView>(interstitial->currentInterstitialController());
    interstitial->dismiss();
    ASSERT_TRUE(settle());
    driver().advance(1);
    EXPECT_FALSE(dialog->superview());
    EXPECT_EQ(*journal, std::vector<std::string>{});  // neither displayed nor hidden

    // No ad at all: the developer messages, and nothing is shown.
    interstitial->showOver(window(), Ref<NSObject>());
    EXPECT_EQ(interstitial->currentInterstitialController(), dialog);
}

TEST_F(HLInterstitialDialogViewTest, HiddenIsReportedOnceForADoubleDismissalAndForCloseAd) {
    auto dialog = shownDialog(adWithCloseDelay(6, 0));
    driver().advance(0.3);
    dialog->dismiss();
    bool completed = false;
    dialog->dismissWithCompletionHandler([&] { completed = true; });
    EXPECT_TRUE(completed);  // at once, before the queued removal
    driver().drain();
    EXPECT_EQ(display->count("hidden"), 1u);
    EXPECT_EQ(listener->count("Attempting to dismiss ad when already dismissed."), 1u);
    EXPECT_FALSE(dialog->adView());
    EXPECT_FALSE(dialog->currentAd());

    // "/close_ad" from the page, twice before the first has been acted on.
    simulator::HalcyonAd closing;
    closing.size = "INTER";
    closing.adId = 7;
    closing.html = "<html><body><a id='x' href='halcyon://com.halcyon.sdk/close_ad'>close</a></body></html>";
    auto second = shownDialog(renderedAd(closing));
    driver().advance(0.3);
    ASSERT_TRUE(second->adView()->adWebView()->simulateLinkClick("x"));
    ASSERT_TRUE(second->adView()->adWebView()->simulateLinkClick("x"));
    driver().drain();
    EXPECT_EQ(display->count("hidden"), 2u);
    EXPECT_EQ(journal->back(), "display hidden 7");
    EXPECT_FALSE(second->superview());
}

TEST_F(HLInterstitialDialogViewTest, ACloseDelayOfAnyLengthLetsTheClosedDialogGo) {
    Weak<HLInterstitialDialogView> closed;
    for (bool fading : {true, false}) {
        SCOPED_TRACE(fading);
        setSlot(59, Value(fading));
        {
            auto dialog = shownDialog(adWithCloseDelay(fading ? 11 : 12, 1000000000));
            driver().advance(0.3);
            EXPECT_TRUE(dialog->closeButton()->isHidden());
            dialog->dismiss();
            closed = dialog;
        }
        driver().advance(1);
        shownDialog(adWithCloseDelay(13, 0));  // the next show replaces the last presenter
        driver().advance(1);
        EXPECT_TRUE(closed.expired());
    }
    EXPECT_EQ(display->count("hidden"), 2u);
}

TEST_F(HLInterstitialDialogViewTest, VisualFormatsFillTheStatusBarHeightAndBadServerFormatsFallBack) {
    UIApplication::sharedApplication()->setStatusBarHidden(false);
    setSlotString(128, "V:|-({statusBarHeight})-[interstitial]-(0)-|");
    auto dialog = shownDialog(adWithCloseDelay(8, 0));
    window()->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(dialog->frame(), CGRectMake(0, 20, 320, 548)));
    bool twenty = false;
    for (const auto& constraint : dialog->windowConstraints()) twenty = twenty || constraint->constant() == 20;
    EXPECT_TRUE(twenty);
    EXPECT_EQ(listener->count("cannot be used"), 0u);

    // A vertical format that does not parse falls back to the default. The
    // server's horizontal format reaches slot 131 too (same tag) once the
    // table is read back from the store, where it names no "adView": that
    // slot falls back to its default.
    sdk->settingsManager()->loadFromServer(
        Value::dictionary({{"ios_inter_h_constraint", Value("H:|-(10)-[interstitial]-(10)-|")},
                           {"ios_inter_v_constraint", Value("V:|-(0)-[interstitial")}}));
    setSlotString(131, "H:|-(10)-[interstitial]-(10)-|");
    auto inset = shownDialog(adWithCloseDelay(9, 0));
    window()->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(inset->frame(), CGRectMake(10, 0, 300, 568)));
    EXPECT_TRUE(CGRectEqualToRect(inset->adView()->frame(), inset->bounds()));
    EXPECT_GE(listener->count("cannot be used"), 2u);
}

TEST_F(HLInterstitialDialogViewTest, FrameLayoutPutsTheCloseButtonInTheTopCornerAndFollowsRotation) {
    setSlot(126, Value(false));
    auto dialog = HLInterstitialDialogView::alloc()->initWithFrame(CGRectMake(0, 0, 320, 480), sdk);
    dialog->createCloseButton(0);
    EXPECT_TRUE(CGRectEqualToRect(dialog->closeButton()->frame(), CGRectMake(270, 0, 50, 50)));
    setSlot(82, Value(true));
    setSlot(86, Value(6));
    dialog->createCloseButton(0);
    EXPECT_TRUE(CGRectEqualToRect(dialog->closeButton()->frame(), CGRectMake(6, 6, 50, 50)));
    EXPECT_EQ(dialog->subviews().size(), 2u);  // the ad view and one button

    // Rotation by the status bar (slot 110), kept as written: a full turn upside down.
    setSlot(110, Value(true));
    UIApplication::sharedApplication()->simulateStatusBarOrientation(UIInterfaceOrientationLandscapeLeft);
    dialog->updateTransform();
    EXPECT_FLOAT_EQ(dialog->transform().b, std::sin(1.5707964f));
    UIApplication::sharedApplication()->simulateStatusBarOrientation(UIInterfaceOrientationPortraitUpsideDown);
    dialog->updateTransform();
    EXPECT_NEAR(dialog->transform().a, 1, 1e-6);
    UIApplication::sharedApplication()->simulateStatusBarOrientation(UIInterfaceOrientationPortrait);
    auto attached = shownDialog(adWithCloseDelay(10, 0));
    EXPECT_TRUE(CGRectEqualToRect(attached->frame(), UIScreen::mainScreen()->applicationFrame()));
}

TEST_F(HLInterstitialDialogViewTest, TheSharedDialogLoadsItsAdAndRefusesASecondShowWhileUp) {
    simulator::HalcyonAd ad;
    ad.adId = 12;
    service.setAd(ad);
    auto dialog = HLInterstitialDialogView::showOver(window());
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    driver().advance(0.3);
    EXPECT_EQ(dialog->superview(), window());
    EXPECT_EQ(dialog->currentAd()->adIdNumber().integerValue(), 12);
    HLInterstitialDialogView::showOver(window());
    EXPECT_EQ(listener->count("An interstitial dialog is already showing"), 1u);

    // A failed load dismisses it with no display callback.
    auto failing = HLInterstitialDialogView::alloc()->initInterstitialAdWithSdk(sdk);
    failing->setWrapper(interstitial);
    service.setAd(std::nullopt);
    failing->showOver(window(), true);
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    EXPECT_EQ(*journal, (std::vector<std::string>{"load fail 204"}));
    EXPECT_FALSE(failing->adView());
}

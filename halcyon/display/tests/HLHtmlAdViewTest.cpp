// The HTML ad view against the Halcyon service on loopback: impressions
// counted per render before anything is drawn (also from a task queue), the
// fade of an old ad and the order of hidden and displayed, load failures,
// the storyboard path (initWithCoder, setValue, awakeFromNib), refreshes
// with and without a superview, one render per load whichever way the load
// starts (counted by the delegates and by the service, which reads the
// impression count off the next request), and an interstitial-size ad in a
// banner.
#include <algorithm>

#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLStatsManager.h"
#include "halcyon/display/HLHtmlAdView.h"
#include "halcyon/display/HLInterstitialAd.h"
#include "halcyon/display/HLInterstitialDialogView.h"
#include "halcyon/display/HLWebViewButton.h"
#include "halcyon/display/tests/HalcyonDisplayTestSupport.h"
#include "platform/ui/UIApplication.h"
#include "platform/foundation/NSException.h"
#include "platform/runtime/DispatchQueue.h"

namespace {

class HLHtmlAdViewTest : public HalcyonDisplayTest {
protected:
    Ref<HLHtmlAdView> bannerInWindow() {
        auto view = HLHtmlAdView::alloc()->initBannerAdWithSdk(sdk);
        view->setAdDisplayDelegate(display);
        view->setAdLoadDelegate(load);
        window()->addSubview(view);
        return view;
    }
    int64_t stat(const char* key) { return sdk->statsManager()->valueOfKey(key).integerValue(); }
    size_t adRequests() { return service.requestsTo(simulator::HalcyonService::kAdPath).size(); }

    Ref<HLRecordingDisplayDelegate> display = std::make_shared<HLRecordingDisplayDelegate>("display", journal);
    Ref<HLRecordingLoadDelegate> load = std::make_shared<HLRecordingLoadDelegate>("load", journal);
};

}  // namespace

TEST_F(HLHtmlAdViewTest, EachRenderCountsOneImpressionBeforeAnythingIsDrawn) {
    auto view = bannerInWindow();
    auto ad = renderedAd("BANNER", 7);
    ASSERT_TRUE(ad);
    const int64_t before = stat("ad_imp");

    // From a task queue, as the ad service's answers come: only the
    // bookkeeping runs there.
    auto queue = dispatch_queue_create("test.render", nullptr);
    dispatch_sync(queue, [view, ad] { view->render(ad, std::string("level-1")); });
    EXPECT_EQ(stat("ad_imp"), before + 1);
    EXPECT_EQ(stat("ad_imp_session"), 1);
    EXPECT_EQ(view->currentAd(), ad);
    EXPECT_EQ(view->currentPlacement(), "level-1");
    EXPECT_TRUE(view->isHidden());  // the page has not finished: nothing is shown
    EXPECT_TRUE(display->journal().empty());

    ASSERT_TRUE(settle());
    EXPECT_FALSE(view->isHidden());
    EXPECT_EQ(display->journal(), (std::vector<std::string>{"display displayed 7"}));
    EXPECT_TRUE(display->onlyMainThread());
    EXPECT_EQ(stat("ad_imp"), before + 1);

    // No ad: the developer messages only; another kind of object raises.
    expectLogLine("Developer passed nil instead of HLAd instance");
    view->render(nullptr);
    EXPECT_THROW(view->render(NSObject::alloc<NSObject>()->init()), platform::NSException);
    ASSERT_TRUE(settle());
    EXPECT_EQ(stat("ad_imp"), before + 1);
    EXPECT_EQ(view->currentAd(), ad);
}

TEST_F(HLHtmlAdViewTest, ASecondAdFadesTheFirstAndReportsItHiddenBeforeTheNewOneDisplayed) {
    auto view = bannerInWindow();
    auto first = renderedAd("BANNER", 1);
    auto second = renderedAd("BANNER", 2);
    view->render(first);
    ASSERT_TRUE(settle());
    EXPECT_EQ(view->adWebView()->alpha(), 1);

    view->render(second);
    EXPECT_EQ(view->oldAd(), first);
    // The render step itself (queued on the main queue by render) fades the
    // old page while the new one loads.
    view->doRenderAd(second, std::nullopt);
    EXPECT_FLOAT_EQ(view->adWebView()->alpha(), 0.5f);
    ASSERT_TRUE(settle());
    EXPECT_EQ(listener->count("Fade out of the old ad scheduled"), 2u);
    EXPECT_EQ(view->adWebView()->alpha(), 1);
    EXPECT_EQ(display->journal(),
              (std::vector<std::string>{"display displayed 1", "display hidden 1", "display displayed 2"}));

    // Without the animation setting the fade is immediate.
    setSlot(59, Value(false));
    view->adWebView()->setAlpha(1);
    view->doRenderAd(first, std::nullopt);
    EXPECT_FLOAT_EQ(view->adWebView()->alpha(), 0.5f);
}

TEST_F(HLHtmlAdViewTest, LoadedAdsAreRenderedAndAFailedLoadHidesTheViewWithOneFailureOnly) {
    simulator::HalcyonAd ad;
    ad.adId = 5;
    service.setAd(ad);
    auto view = bannerInWindow();
    view->loadNextAd();
    ASSERT_TRUE(settle());
    EXPECT_TRUE(view->isFirstAdLoaded());
    EXPECT_EQ(journal->front(), "load ad 5");  // before anything is on screen
    EXPECT_EQ(*journal, (std::vector<std::string>{"load ad 5", "display displayed 5"}));
    EXPECT_EQ(listener->count("No placement is available when loading ads directly from the HLHtmlAdView"), 1u);

    // A fresh view whose load fails: one failure, no display callback.
    journal->clear();
    service.setAd(std::nullopt);
    auto other = HLHtmlAdView::alloc()->initMRecAdWithSdk(sdk);
    other->setAdDisplayDelegate(display);
    other->setAdLoadDelegate(load);
    window()->addSubview(other);
    other->loadNextAd();
    ASSERT_TRUE(settle());
    EXPECT_EQ(*journal, (std::vector<std::string>{"load fail 204"}));
    EXPECT_TRUE(other->isHidden());
    EXPECT_FALSE(other->hiddenByUser());
}

TEST_F(HLHtmlAdViewTest, EveryLoadOfAnObservingViewRendersOnceWhateverStartsIt) {
    setSlot(21, Value(30));  // the kept banner expires after 30 s
    setSlot(26, Value(false));  // no preloads: each load is one request of its own
    auto view = bannerInWindow();
    auto banner = [](int64_t id, std::string body = {}) {
        simulator::HalcyonAd ad;
        ad.adId = id;
        if (!body.empty()) ad.html = "<html><body>" + body + "</body></html>";
        return ad;
    };
    // The impression counts ("li") the banner requests carried, in order.
    auto countsSent = [&] {
        std::vector<std::string> counts;
        for (const auto& query : service.adRequestQueries())
            if (simulator::queryField(query, "size") == "BANNER")
                counts.push_back(simulator::queryField(query, "li").value_or("?"));
        return counts;
    };
    auto expectOneRenderOf = [&](int64_t id) {
        ASSERT_TRUE(settle());
        const std::string shown = std::to_string(id);
        EXPECT_EQ(*journal, (std::vector<std::string>{"load ad " + shown, "display hidden " + std::to_string(id - 1),
                                                      "display displayed " + shown}));
        EXPECT_EQ(view->currentAd()->adIdNumber().integerValue(), id);
        journal->clear();
    };

    service.setAd(banner(1));
    view->loadNextAd();
    ASSERT_TRUE(settle());
    EXPECT_EQ(*journal, (std::vector<std::string>{"load ad 1", "display displayed 1"}));
    journal->clear();
    const int64_t first = stat("ad_imp");

    // Becoming active with the kept ad expired: the view is both the waiting
    // delegate and an update observer of this load.
    service.setAd(banner(2, "<script>setTimeout(function() {"
                            " location.href = 'halcyon://com.halcyon.sdk/next_ad'; }, 31000);</script>"));
    driver().advance(31);
    UIApplication::sharedApplication()->simulateBecomeActive();
    expectOneRenderOf(2);

    // The page asks for the next ad once the kept one has expired.
    service.setAd(banner(3));
    driver().advance(31);
    expectOneRenderOf(3);

    // The application reloads.
    service.setAd(banner(4));
    driver().advance(31);
    view->loadNextAd();
    expectOneRenderOf(4);

    // Each request carried one impression per load before it.
    EXPECT_EQ(stat("ad_imp"), first + 3);
    std::vector<std::string> expected;
    for (int64_t n = first - 1; n < first + 3; ++n) expected.push_back(std::to_string(n));
    EXPECT_EQ(countsSent(), expected);
}

TEST_F(HLHtmlAdViewTest, StoryboardKeysSetSizeAndAutoloadInAnyLetterCase) {
    simulator::HalcyonAd ad;
    service.setAd(ad);
    auto coder = NSObject::alloc<NSCoder>();

    auto quiet = HLHtmlAdView::alloc()->initWithCoder(coder);
    EXPECT_EQ(quiet->sdk(), sdk);
    EXPECT_EQ(quiet->adSize()->label(), "BANNER");
    quiet->setValue(Value(false), "AUTOLOAD");
    quiet->setValue(Value("mrec"), "Size");
    quiet->setValue(Value(12), "unknownKey");
    quiet->awakeFromNib();
    ASSERT_TRUE(settle());
    EXPECT_FALSE(quiet->isAutoloadEnabled());
    EXPECT_EQ(quiet->adSize()->label(), "MREC");
    EXPECT_FALSE(quiet->isFirstAdLoaded());
    EXPECT_EQ(listener->count("Setting AUTOLOAD to 0"), 1u);

    // A size of the wrong kind falls back to the banner; autoload loads.
    auto loud = HLHtmlAdView::alloc()->initWithCoder(coder);
    loud->setValue(Value::array({}), "size");
    EXPECT_EQ(loud->adSize()->label(), "BANNER");
    const size_t before = adRequests();
    loud->awakeFromNib();
    ASSERT_TRUE(settle());
    EXPECT_TRUE(loud->isFirstAdLoaded());
    EXPECT_EQ(adRequests(), before + 1);
}

TEST_F(HLHtmlAdViewTest, UpdatesRenderOnlyWhileTheViewHasASuperview) {
    auto view = bannerInWindow();
    EXPECT_TRUE(view->canAcceptUpdate());
    auto update = renderedAd("BANNER", 11);
    view->adServiceDidUpdateAd(sdk->adService(), update);
    ASSERT_TRUE(settle());
    EXPECT_EQ(*journal, (std::vector<std::string>{"load ad 11", "display displayed 11"}));

    view->setHidden(true);
    EXPECT_FALSE(view->canAcceptUpdate());
    view->setHidden(false);
    view->removeFromSuperview();
    EXPECT_FALSE(view->canAcceptUpdate());
    view->adServiceDidUpdateAd(sdk->adService(), renderedAd("BANNER", 12));
    ASSERT_TRUE(settle());
    EXPECT_EQ(view->currentAd(), update);
    EXPECT_EQ(listener->count("Ad view has been removed by the time an ad was updated"), 1u);

    // An interstitial view never takes updates.
    auto interstitial = HLHtmlAdView::alloc()->initInterstitialAdWithSdk(sdk);
    window()->addSubview(interstitial);
    EXPECT_FALSE(interstitial->canAcceptUpdate());
}

TEST_F(HLHtmlAdViewTest, AnInterstitialSizeAdInABannerIsShownThroughTheSharedInterstitial) {
    auto application = std::make_shared<HLRecordingDisplayDelegate>("application", journal);
    HLInterstitialAd::shared()->setAdDisplayDelegate(application);
    auto view = bannerInWindow();
    auto ad = renderedAd("INTER", 21);
    view->render(ad, std::string("menu"));
    ASSERT_TRUE(settle());
    driver().advance(1);

    // The shared interstitial's delegate was replaced by a forwarder to the banner's.
    EXPECT_NE(HLInterstitialAd::shared()->adDisplayDelegate(), application);
    auto dialog = std::dynamic_pointer_cast<HLInterstitialDialogView>(
        HLInterstitialAd::shared()->currentInterstitialController());
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->superview(), window());
    EXPECT_EQ(dialog->adView()->currentPlacement(), "menu");
    EXPECT_EQ(*journal, (std::vector<std::string>{"display displayed 21"}));
    EXPECT_EQ(view->currentAd(), ad);  // the banner's page is untouched
    EXPECT_TRUE(view->isHidden());

    // An ad of a size nobody shows is ignored.
    view->render(renderedAd("LEADER", 22));
    ASSERT_TRUE(settle());
    EXPECT_EQ(listener->count("Unknown ad size: LEADER, ignoring..."), 1u);
}

TEST_F(HLHtmlAdViewTest, TheClickOverlayIgnoresASecondTapAndLeavesAfterTheClick) {
    setSlot(115, Value(true));
    const std::string landing = service.server().url(simulator::HalcyonService::kLandingPath);
    for (bool tracked : {true, false}) {
        simulator::HalcyonAd ad;
        ad.size = "BANNER";
        ad.adId = tracked ? 1 : 2;
        ad.html = "<html><body><a id='go' href='" + landing + "'>go</a></body></html>";
        if (!tracked) ad.clickTrackingUrl.reset();
        auto view = bannerInWindow();
        view->render(renderedAd(ad));
        ASSERT_TRUE(settle());
        const size_t opened = UIApplication::sharedApplication()->openedURLs().size();
        const size_t tracks = service.requestsTo(simulator::HalcyonService::postbackPath("click")).size();

        // The tracking answer waits until both taps are in.
        service.script(simulator::HalcyonService::postbackPath("click"), {simulator::Answer::stall()});
        ASSERT_TRUE(view->adWebView()->simulateLinkClick("go"));
        driver().drain();
        EXPECT_EQ(view->trackingOverlay() != nullptr, tracked);
        if (tracked) {
            ASSERT_TRUE(service.server().waitForStalled(1, 10));
        }
        ASSERT_TRUE(view->adWebView()->simulateLinkClick("go"));  // ignored while the first is tracked
        driver().drain();
        service.server().releaseStalled();
        ASSERT_TRUE(settle());
        driver().advance(0.6);
        EXPECT_FALSE(view->trackingOverlay());
        for (const auto& subview : view->subviews()) EXPECT_FALSE(subview->isKindOfClass<HLClickTrackingOverlayView>());
        EXPECT_EQ(service.requestsTo(simulator::HalcyonService::postbackPath("click")).size(), tracks + (tracked ? 1 : 0));
        // A tracked click leads on; one without a tracking URL goes no further.
        EXPECT_EQ(UIApplication::sharedApplication()->openedURLs().size(), opened + (tracked ? 1 : 0));
        view->removeFromSuperview();
    }
}

// Two taps on an ordinary banner's link, 1 s and 4 s after its page's load
// (whose navigation started the fold of the page's own): the listener hears
// each tap's line when it happens, with its URL. The page's own navigations
// (the frames it adds) fold by URL: a URL not written yet is written when it
// comes, each one repeated is counted on a line that names it, and past 20
// new ones in a period the rest are counted as navigations, the last named.
TEST_F(HLHtmlAdViewTest, EachTapIsLoggedWhenItHappensAndAPagesOwnNavigationsFoldByURL) {
    const std::string landing = service.server().url(simulator::HalcyonService::kLandingPath);
    simulator::HalcyonAd ad;
    ad.size = "BANNER";
    ad.adId = 4;
    ad.html = "<html><body><a id='go' href='" + landing + "'>go</a></body></html>";
    auto view = bannerInWindow();
    view->render(renderedAd(ad));
    ASSERT_TRUE(settle());
    const std::string handling = "INFO [HLHtmlAdView] Handling a click on: ";
    auto heard = [&](const std::string& line) {
        const auto lines = listener->lines();
        return std::count(lines.begin(), lines.end(), line);
    };
    ASSERT_EQ(heard(handling + landing), 0);
    for (double after : {1.0, 3.0}) {
        const auto before = heard(handling + landing);
        driver().advance(after);
        ASSERT_TRUE(view->adWebView()->simulateLinkClick("go"));
        driver().drain();
        EXPECT_EQ(heard(handling + landing), before + 1);
        ASSERT_TRUE(settle());
    }

    driver().advance(HLLogManager::kFoldedLinePeriod);  // the load's fold has ended
    auto addFrames = [&](const std::vector<std::string>& targets) {
        std::string script;
        for (const std::string& target : targets)
            script += "var f = document.createElement('iframe'); f.src = '" + target +
                      "'; document.body.appendChild(f);";
        view->adWebView()->stringByEvaluatingJavaScriptFromString(script);
        driver().drain();
    };
    const std::string a = landing + "?a", b = landing + "?b";
    addFrames({a, a, b, b});
    EXPECT_EQ(heard(handling + a), 1);
    EXPECT_EQ(heard(handling + b), 1);
    driver().advance(HLLogManager::kFoldedLinePeriod);
    EXPECT_EQ(heard(handling + a + " (1 more in 10 s)"), 1);
    EXPECT_EQ(heard(handling + b + " (1 more in 10 s)"), 1);

    std::vector<std::string> fresh;
    for (size_t i = 1; i <= HLLogManager::kNewFoldedLinesPerPeriod + 5; ++i)
        fresh.push_back(landing + "?" + std::string(i, 'z'));
    addFrames(fresh);
    EXPECT_EQ(listener->count("Handling a click on: " + landing + "?z"), HLLogManager::kNewFoldedLinesPerPeriod);
    driver().advance(HLLogManager::kFoldedLinePeriod);
    EXPECT_EQ(heard("INFO [HLHtmlAdView] 5 more navigations in 10 s; the last to " + fresh.back()), 1);
    EXPECT_EQ(heard(handling + landing), 2);
}

// A click on a URL of any length, in the ad and in a video button: every
// line, on the console and to the listener, shows it short and without its
// password.
TEST_F(HLHtmlAdViewTest, AClickOnAHugeURLIsLoggedShortAndWithoutItsPassword) {
    setSlot(9, Value(true));  // verbose: the lines reach the console too
    auto view = bannerInWindow();
    view->render(renderedAd("BANNER", 3));
    ASSERT_TRUE(settle());
    const auto url = NSURL::URLWithString(hostileURL(service.server().url(simulator::HalcyonService::kLandingPath)));
    ASSERT_TRUE(url);
    EXPECT_FALSE(view->webViewShouldStartLoadWithRequest(view->adWebView(), *NSURLRequest::requestWithURL(url),
                                                         UIWebViewNavigationTypeLinkClicked));
    ASSERT_TRUE(settle());
    auto button = HLWebViewButton::alloc()->initWithSdk(sdk);
    EXPECT_TRUE(button->webViewShouldStartLoadWithRequest(nullptr, *NSURLRequest::requestWithURL(url),
                                                          UIWebViewNavigationTypeLinkClicked));
    // Neither line waits: the URL is new to the view's fold, and the button's first.
    EXPECT_EQ(listener->count("Handling a click on: http://***@127.0.0.1:"), 2u);
    for (const std::string& line : listener->lines()) {
        EXPECT_LE(line.size(), 1024u) << line.substr(0, 300);
        EXPECT_EQ(line.find("secret"), std::string::npos) << line.substr(0, 300);
    }
    EXPECT_TRUE(logCapture().contains("Handling a click on: http://***@127.0.0.1:"));
    expectBoundedLogLines();
}

// The banner's working life against the service, on the virtual clock: the
// configuration wait and the banner request byte for byte, no network,
// refreshes at the configured rate only in a superview, a banner of alpha 0,
// the auto-rotate flag, the ad-rules verdicts with rules on refresh on and
// off (a denial, a first load that failed), impressions deferred to a
// superview and sent once per page, one display per start, and a released
// banner that hears nothing from its timers, its load or a late tap.
#include <algorithm>

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/display/tests/TrilliumBannerTestSupport.h"
#include "platform/net/NetworkConditions.h"

namespace {

using simulator::Answer;
using simulator::TrilliumService;

class TRABannerLoadingTest : public TrilliumBannerTest {
protected:
    // The targets of the impression requests, up to the session fields.
    std::vector<std::string> impressionTargets() {
        std::vector<std::string> targets;
        for (const auto& r : impressions()) targets.push_back(r.request.target.substr(0, r.request.target.find("&clientSessionId=")));
        // Sent one after the other on the virtual clock, they may reach the service in either order.
        std::sort(targets.begin(), targets.end());
        return targets;
    }
    static constexpr const char* kBannerDenyingRules =
        "\"adRules\": {\"placements\": {\"INAPP_BANNER\": [{\"maxAds\": 0, \"seconds\": 0}]}}";
};

TEST_F(TRABannerLoadingTest, WaitsForTheConfigurationThenAsksWithItsFieldsByteForByte) {
    service.setConfigAnswer(Answer::stall(Answer::ok(service.defaultConfig()).header("Content-Type", "application/json")));
    auto banner = makeBanner(TRAAdOrigin_Bottom);
    ASSERT_TRUE(service.server().waitForStalled(1, 10));
    driver().drain();
    EXPECT_TRUE(bannerRequests().empty());
    service.server().releaseStalled();
    ASSERT_TRUE(finishLoad(banner));

    auto custom = TRABannerView::alloc()->initWithSize({{300.5f, 49.5f}, false}, CGPointMake(0, 0), root(), listener);
    ASSERT_TRUE(finishLoad(custom));
    auto requests = bannerRequests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string& first = requests[0].request.target;
    EXPECT_EQ(first.substr(first.find("&placement=")),
              "&placement=INAPP_BANNER&adsNumber=1&adType=0&devBannerSize=TRA_PortraitAdSize_320x50"
              "&devBannerOrigin=TRAAdOrigin_Bottom");
    EXPECT_EQ(requests[0].field("width"), "320");
    EXPECT_EQ(requests[0].field("height"), "50");
    // A size that is none of the constants: no name, and whole points, halves away from zero.
    const std::string& second = requests[1].request.target;
    EXPECT_EQ(second.substr(second.find("&adType=")), "&adType=0&devBannerSize=&devBannerOrigin=TRAAdOrigin_Custom");
    EXPECT_EQ(requests[1].field("width"), "301");
    EXPECT_EQ(requests[1].field("height"), "50");
}

TEST_F(TRABannerLoadingTest, WithoutNetworkEveryStartReportsAndNothingIsAsked) {
    platform::testing::NetworkConditions::set(NetworkState::None);
    auto banner = makeBanner();
    banner->showBanner();
    EXPECT_EQ(listener->events, (std::vector<std::string>{"failed: No internet connection.",
                                                          "failed: No internet connection."}));
    EXPECT_TRUE(driver().settle(5));
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(TRABannerLoadingTest, RefreshesRunAtTheConfiguredRateOnlyInASuperview) {
    setConfigFields("\"refreshRate\": 15000");
    auto banner = makeBanner(TRAAdOrigin_Bottom, TRA_PortraitAdSize_320x50, false);
    showFirstPage(banner);
    driver().advance(15);
    EXPECT_TRUE(driver().settle(5));
    EXPECT_EQ(bannerRequests().size(), 1u);
    root()->addSubview(banner);
    driver().advance(15);
    ASSERT_TRUE(finishLoad(banner, 1));
    driver().advance(15);
    ASSERT_TRUE(finishLoad(banner, 2));
    EXPECT_EQ(bannerRequests().size(), 3u);
    EXPECT_EQ(banner->ad()->adId(), "banner3");  // a different page per load
}

TEST_F(TRABannerLoadingTest, AlphaZeroBeforeTheFirstLoadReportsAndAfterItStaysSilent) {
    auto banner = makeBanner();
    banner->setAlpha(0);
    EXPECT_TRUE(driver().settle(10));
    EXPECT_EQ(listener->events, (std::vector<std::string>{"failed: Banner is not visible"}));
    EXPECT_TRUE(bannerRequests().empty());

    banner->setAlpha(1);
    banner->showBanner();
    showFirstPage(banner);
    banner->setAlpha(0);
    driver().advance(30);
    EXPECT_TRUE(driver().settle(5));
    EXPECT_EQ(bannerRequests().size(), 1u);
    EXPECT_EQ(listener->events, (std::vector<std::string>{"failed: Banner is not visible", "display"}));
}

TEST_F(TRABannerLoadingTest, WhileAClientScreenIsUpOnlyARotationReloads) {
    auto banner = makeBanner();
    showFirstPage(banner);
    TRAAdCache::sharedInstance()->setAllowAutoRotate(false);
    driver().advance(30);
    EXPECT_TRUE(driver().settle(5));
    EXPECT_EQ(bannerRequests().size(), 1u);
    UIApplication::sharedApplication()->simulateStatusBarOrientation(UIInterfaceOrientationPortraitUpsideDown);
    driver().advance(30);
    ASSERT_TRUE(finishLoad(banner, 1));
    EXPECT_FALSE(banner->isRotationLoad());
    driver().advance(30);
    EXPECT_TRUE(driver().settle(5));
    EXPECT_EQ(bannerRequests().size(), 2u);
}

TEST_F(TRABannerLoadingTest, ADenialHidesTellsTheServerAndHoldsUntilRulesApplyOnRefresh) {
    setConfigFields(kBannerDenyingRules);
    auto banner = TRABannerView::alloc()->initWithSize(TRA_PortraitAdSize_320x50, TRAAdOrigin_Bottom, root(), listener,
                                                       std::string("level_end"));
    root()->addSubview(banner);
    showFirstPage(banner);
    EXPECT_TRUE(banner->isHidden());
    // A refresh loads but is not judged again; its page stays hidden, unannounced and uncounted.
    driver().advance(30);
    ASSERT_TRUE(finishLoad(banner, 1));
    driver().advance(TRABannerView::kRevealDelay);
    EXPECT_TRUE(banner->isHidden());
    // A start of the banner's own does not even load under the standing denial.
    banner->showBanner();
    EXPECT_TRUE(driver().settle(5));
    EXPECT_EQ(bannerRequests().size(), 2u);
    EXPECT_TRUE(banner->isHidden());
    EXPECT_TRUE(listener->events.empty());
    EXPECT_EQ(impressionTargets(),
              (std::vector<std::string>{
                  "/1.3/trackimpression?d=bimp1&adTag=level_end&offset=0&isShown=false&reason=AD_RULES"}));
    EXPECT_EQ(TRAAdapptManager::numOfAdsDisplayedForKey("INAPP_BANNER"), 0);
}

TEST_F(TRABannerLoadingTest, WithRulesOnRefreshEveryPageIsJudgedAndCounted) {
    setConfigFields("\"applyAdRulesOnBannerRefresh\": true, "
                    "\"adRules\": {\"placements\": {\"INAPP_BANNER\": [{\"maxAds\": 1, \"seconds\": 0}]}}");
    auto banner = makeBanner();
    showFirstPage(banner);
    EXPECT_FALSE(banner->isHidden());
    EXPECT_EQ(TRAAdapptManager::numOfAdsDisplayedForKey("INAPP_BANNER"), 1);
    driver().advance(30);
    ASSERT_TRUE(finishLoad(banner, 1));
    EXPECT_TRUE(banner->isHidden());
    EXPECT_EQ(impressionTargets(),
              (std::vector<std::string>{"/1.3/trackimpression?d=bimp1",
                                        "/1.3/trackimpression?d=bimp2&offset=1&isShown=false&reason=AD_RULES"}));
    EXPECT_EQ(listener->events, (std::vector<std::string>{"display"}));
}

TEST_F(TRABannerLoadingTest, ABannerWhoseFirstLoadFailedIsJudgedAtItsFirstPage) {
    auto page = banners.bannerPage(simulator::TrilliumBannerAds::defaultBannerPages()[0]);
    service.setHtmlAdsForPlacement("INAPP_BANNER", {Answer::withStatus(204), Answer::ok(page)});
    auto banner = makeBanner();
    ASSERT_TRUE(finishLoad(banner));
    EXPECT_EQ(listener->events, (std::vector<std::string>{"failed: No ad available"}));
    EXPECT_FALSE(banner->loadingAd());
    driver().advance(30);
    ASSERT_TRUE(finishLoad(banner, 1));
    driver().advance(TRABannerView::kRevealDelay);
    EXPECT_TRUE(banner->hasAdapptVerdict());
    EXPECT_TRUE(banner->isVisible());
    EXPECT_EQ(impressionTargets(), (std::vector<std::string>{"/1.3/trackimpression?d=bimp1"}));
}

TEST_F(TRABannerLoadingTest, ImpressionsWaitForASuperviewAndGoOncePerPageOneDisplayPerStart) {
    auto banner = makeBanner(TRAAdOrigin_Bottom, TRA_PortraitAdSize_320x50, false);
    showFirstPage(banner);
    EXPECT_TRUE(banner->isImpressionWaiting());
    EXPECT_TRUE(impressionTargets().empty());
    root()->addSubview(banner);
    EXPECT_EQ(impressionTargets().size(), 1u);

    // The same page loading again in the banner is no new impression.
    banner->webView()->loadHTMLString(*banner->currentHtmlBanner(), NSURL::URLWithString(service.baseUrl()));
    driver().drain();
    driver().advance(30);
    ASSERT_TRUE(finishLoad(banner, 1));
    driver().advance(TRABannerView::kRevealDelay);
    EXPECT_EQ(impressionTargets(),
              (std::vector<std::string>{"/1.3/trackimpression?d=bimp1", "/1.3/trackimpression?d=bimp2"}));
    EXPECT_EQ(listener->events, (std::vector<std::string>{"display"}));
    EXPECT_EQ(TRAAdapptManager::numOfAdsDisplayedForKey("INAPP_BANNER"), 1);  // judged and counted at the first page
}

TEST_F(TRABannerLoadingTest, AReleasedBannerHearsNothingFromItsTimersItsLoadOrALateTap) {
    auto banner = makeBanner();
    ASSERT_TRUE(finishLoad(banner));  // the reveal timer is pending, the refresh timer runs
    Ref<TRABannerProxy> proxy = banner->proxy();
    Weak<TRABannerView> weakBanner = banner;
    banner->removeFromSuperview();
    banner.reset();
    EXPECT_TRUE(weakBanner.expired());
    driver().advance(90);

    auto loading = makeBanner();  // its load is on its way
    Weak<TRABannerView> weakLoading = loading;
    Weak<TRABannerProxy> weakProxy = loading->proxy();
    loading->removeFromSuperview();
    loading.reset();
    EXPECT_TRUE(weakLoading.expired());
    EXPECT_TRUE(driver().settle(10));
    driver().advance(90);
    EXPECT_TRUE(weakProxy.expired());  // the invalidated timers let the proxy go too

    auto tap = NSURLRequest::requestWithURL(NSURL::URLWithString(chains.landingUrl() + "?index=0"));
    EXPECT_FALSE(proxy->webViewShouldStartLoadWithRequest(nullptr, *tap, UIWebViewNavigationTypeLinkClicked));
    proxy->didFinishLoadMetadata();
    proxy->didFinishLoadAd();
    EXPECT_TRUE(driver().settle(5));
    EXPECT_TRUE(listener->events.empty());
    EXPECT_EQ(bannerRequests().size(), 2u);
    EXPECT_TRUE(service.requestsTo(TrilliumService::kClickPath).empty());
    EXPECT_EQ(impressionTargets().size(), 1u);  // the first banner's page, sent as it finished
}

}  // namespace

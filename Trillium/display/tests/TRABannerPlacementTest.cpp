// The banner as a view, against the service's banner pages on the virtual
// clock: size and origin names, refusing initialisers, top placement with and
// without the status-bar allowance, bottom and centred placement, the origin
// check at its edges, setters that do nothing while hidden or switched off,
// rotations within and across families at the default system version and at
// 7.0, and banners in table cells.
#include "Trillium/display/tests/TrilliumBannerTestSupport.h"
#include "platform/ui/UIDevice.h"

namespace {

class TRABannerPlacementTest : public TrilliumBannerTest {};

TEST(TRABannerNamesTest, SizesAndOriginsHaveTheirConstantsNames) {
    EXPECT_EQ(TRABannerView::bannerSizeInString(TRA_PortraitAdSize_320x50), "TRA_PortraitAdSize_320x50");
    EXPECT_EQ(TRABannerView::bannerSizeInString(TRA_LandscapeAdSize_480x50), "TRA_LandscapeAdSize_480x50");
    EXPECT_EQ(TRABannerView::bannerSizeInString(TRA_LandscapeAdSize_568x50), "TRA_LandscapeAdSize_568x50");
    EXPECT_EQ(TRABannerView::bannerSizeInString(TRA_PortraitAdSize_768x90), "TRA_PortraitAdSize_768x90");
    EXPECT_EQ(TRABannerView::bannerSizeInString(TRA_LandscapeAdSize_1024x90), "TRA_LandscapeAdSize_1024x90");
    EXPECT_EQ(TRABannerView::bannerSizeInString(TRA_AutoAdSize), "TRA_AutoAdSize");
    EXPECT_EQ(TRABannerView::bannerSizeInString({{320, 50}, true}), "");  // isAuto counts
    EXPECT_EQ(TRABannerView::bannerSizeInString({{300, 250}, false}), "");
    EXPECT_EQ(TRABannerView::bannerOriginInString(TRAAdOrigin_Top), "TRAAdOrigin_Top");
    EXPECT_EQ(TRABannerView::bannerOriginInString(TRAAdOrigin_Bottom), "TRAAdOrigin_Bottom");
    EXPECT_EQ(TRABannerView::bannerOriginInString(7), "TRAAdOrigin_Custom");
}

TEST_F(TRABannerPlacementTest, PageMarkersNameSizeAndIdentifierAndBadOnesChangeNothing) {
    auto ad = TRABannerAd::alloc()->init();
    auto receive = [&](const std::string& page) {
        ad->setHtml(page);
        return ad->onReceiveAd();
    };
    ASSERT_TRUE(receive("<p>@adId@b-7@ @width@320px@ @height@50@</p>"));
    EXPECT_EQ(ad->adId(), "b-7");
    EXPECT_EQ(ad->width(), 320);  // the leading digits
    EXPECT_EQ(ad->height(), 50);
    ad->setNeedToReload(false);
    // Out of range, negative, or not closed by an "@": the fields keep their values.
    expectLogLine("is not a size of 0 to 10000 points");
    ASSERT_TRUE(receive("@width@-5@ @height@99999@ @adId@b-8"));
    EXPECT_EQ(ad->adId(), "b-7");
    EXPECT_EQ(ad->width(), 320);
    EXPECT_EQ(ad->height(), 50);
    EXPECT_TRUE(ad->needToReload());  // every received page is a new one
    // No markers at all: no identifier, sides 0.
    auto bare = TRABannerAd::alloc()->init();
    bare->setHtml("<p>@ no markers @</p>");
    ASSERT_TRUE(bare->onReceiveAd());
    EXPECT_EQ(bare->adId(), std::nullopt);
    EXPECT_EQ(bare->width(), 0);
    EXPECT_EQ(bare->height(), 0);
}

TEST_F(TRABannerPlacementTest, RefusingInitialisersReportWhileTheBannerLivesAndGiveNone) {
    setSwitch("TRADNS", 1);
    EXPECT_EQ(makeBanner(), nullptr);
    setSwitch("TRADNS", 0);
    EXPECT_EQ(TRABannerView::alloc()->initWithSize(TRA_PortraitAdSize_320x50, TRAAdOrigin_Top, nullptr, listener),
              nullptr);
    TRATrilliumSDK::sharedInstance()->setAppID(std::string());
    expectLogLine("TrilliumBannerAd: appId is nil or empty.");
    expectLogLine("TrilliumAd: Missing view controller params");
    EXPECT_EQ(makeBanner(), nullptr);
    EXPECT_EQ(listener->events, (std::vector<std::string>{"failed: Internal error", "failed: Can not send nil as view",
                                                          "failed: Application ID is nil or empty."}));
    TRATrilliumSDK::sharedInstance()->setAppID(std::string(kTestAppId));
    // A banner that ignores its view needs none.
    EXPECT_NE(TRABannerView::alloc()->initWithSize(TRA_PortraitAdSize_320x50, CGPointMake(0, 0), nullptr, listener,
                                                   Value(), true),
              nullptr);
}

TEST_F(TRABannerPlacementTest, TheIdsInitialiserUsesTheEntryPointsIds) {
    auto banner = TRABannerView::alloc()->initWithIds(std::string("other-app"), std::string("other-dev"),
                                                      TRA_PortraitAdSize_320x50, CGPointMake(0, 100), root(), listener);
    root()->addSubview(banner);
    ASSERT_TRUE(finishLoad(banner));
    auto requests = bannerRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].field("productId"), kTestAppId);
    EXPECT_EQ(requests[0].field("publisherId"), kTestDevId);
    EXPECT_EQ(requests[0].field("devBannerOrigin"), std::nullopt);  // the ids form names nothing
}

TEST_F(TRABannerPlacementTest, TopSitsBelowAVisibleStatusBarBottomAtTheEdgeBothCentred) {
    auto top = makeBanner(TRAAdOrigin_Top);
    showFirstPage(top);
    EXPECT_EQ(top->frame(), CGRectMake(0, 20, 320, 50));
    EXPECT_EQ(top->webView()->frame(), CGRectMake(0, 0, 320, 50));
    EXPECT_FALSE(top->isHidden());

    banners.setBannerPages({[] {
        simulator::TrilliumBannerPage page;
        page.width = "300";
        return page;
    }()});
    auto bottom = makeBanner(TRAAdOrigin_Bottom);
    showFirstPage(bottom);
    EXPECT_EQ(bottom->frame(), CGRectMake(10, 518, 300, 50));  // (320 - 300) / 2

    // Status bar hidden: the allowance goes.
    UIApplication::sharedApplication()->setStatusBarHidden(true);
    top->autoPositionBanner();
    EXPECT_EQ(top->frame().origin.y, 0);
}

TEST_F(TRABannerPlacementTest, ARootViewShorterThanTheScreensControllerGetsNoAllowance) {
    auto host = UIView::alloc()->initWithFrame(CGRectMake(0, 0, 320, 400));
    root()->addSubview(host);
    auto banner = TRABannerView::alloc()->initWithSize(TRA_PortraitAdSize_320x50, TRAAdOrigin_Top, host, listener);
    host->addSubview(banner);
    showFirstPage(banner);
    EXPECT_EQ(banner->frame(), CGRectMake(0, 0, 320, 50));
    banner->setSTAAutoOrigin(TRAAdOrigin_Bottom);
    EXPECT_EQ(banner->frame().origin.y, 350);
    EXPECT_EQ(banner->developerBannerOrigin(), "TRAAdOrigin_Bottom");
}

TEST_F(TRABannerPlacementTest, TheOriginCheckHidesABannerOutsideItsRootAndReportsOnce) {
    auto banner = TRABannerView::alloc()->initWithSize(TRA_PortraitAdSize_320x50, CGPointMake(0, 518), root(), listener);
    root()->addSubview(banner);
    showFirstPage(banner);
    EXPECT_TRUE(banner->validOrigin());  // exactly at the bottom edge
    EXPECT_EQ(listener->events, (std::vector<std::string>{"display"}));

    banner->setOrigin(CGPointMake(1, 518));  // one point past the right edge
    EXPECT_TRUE(banner->isHidden());
    banner->setOrigin(CGPointMake(0, -1));
    EXPECT_EQ(banner->developerBannerOrigin(), "TRAAdOrigin_Custom");
    banner->setOrigin(CGPointMake(0, 0));
    EXPECT_FALSE(banner->isHidden());
    // Reported once per start: the display already was this start's callback.
    EXPECT_EQ(listener->events, (std::vector<std::string>{"display"}));

    banner->showBanner();  // a new start
    ASSERT_TRUE(finishLoad(banner, 1));
    banner->setOrigin(CGPointMake(0, 519));
    EXPECT_EQ(listener->events.back(), "failed: Origin is not valid");
}

TEST_F(TRABannerPlacementTest, SettersDoNothingWhileHiddenByTheApplicationOrSwitchedOff) {
    auto banner = makeBanner(TRAAdOrigin_Bottom);
    showFirstPage(banner);
    banner->hideBanner();
    EXPECT_FALSE(banner->isVisible());
    banner->setOrigin(CGPointMake(0, 0));
    banner->setSTAAutoOrigin(TRAAdOrigin_Top);
    banner->setSTABannerSize(TRA_LandscapeAdSize_480x50);
    EXPECT_EQ(banner->frame().origin.y, 518);
    EXPECT_EQ(banner->developerBannerSize(), "TRA_PortraitAdSize_320x50");

    banner->showBanner();
    ASSERT_TRUE(finishLoad(banner, 1));
    setSwitch("TRADNS", 1);
    banner->setSTAAutoOrigin(TRAAdOrigin_Top);
    banner->setSTABannerSize(TRA_LandscapeAdSize_480x50);
    EXPECT_EQ(banner->bannerPosition(), TRAAdOrigin_Bottom);
    EXPECT_EQ(banner->bannerSize(), TRA_PortraitAdSize_320x50);
    EXPECT_TRUE(driver().settle(5));
    EXPECT_EQ(bannerRequests().size(), 2u);
}

TEST_F(TRABannerPlacementTest, ARotationWithinTheFamilyOnlyRevealsAgain) {
    auto banner = makeBanner(TRAAdOrigin_Bottom);
    showFirstPage(banner);
    auto app = UIApplication::sharedApplication();
    app->simulateStatusBarOrientation(UIInterfaceOrientationPortraitUpsideDown);
    EXPECT_TRUE(banner->isHidden());
    EXPECT_TRUE(banner->isRotationLoad());
    driver().advance(TRABannerView::kRevealDelay);
    EXPECT_FALSE(banner->isHidden());
    EXPECT_EQ(banner->frame().origin.y, 518);
    EXPECT_EQ(bannerRequests().size(), 1u);
}

TEST_F(TRABannerPlacementTest, ARotationAcrossFamiliesSwapsTheSizeAndLoadsAtTheNewSizeNext) {
    auto banner = makeBanner(TRAAdOrigin_Bottom);
    showFirstPage(banner);
    UIApplication::sharedApplication()->simulateStatusBarOrientation(UIInterfaceOrientationLandscapeRight);
    // From 9.0 the fixed size turns with the screen; placed on the bounds of
    // the moment before the turn, the banner stays hidden until its next load.
    EXPECT_EQ(banner->bannerSize().size, CGSizeMake(50, 320));
    EXPECT_TRUE(banner->isHidden());
    driver().advance(TRABannerView::kRevealDelay);
    EXPECT_TRUE(banner->isHidden());
    driver().advance(30);
    ASSERT_TRUE(finishLoad(banner, 1));
    auto requests = bannerRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].field("width"), "50");
    EXPECT_EQ(requests[1].field("height"), "320");
    driver().advance(TRABannerView::kRevealDelay);
    EXPECT_EQ(banner->frame(), CGRectMake(124, 270, 320, 50));  // centred at the landscape bottom
    EXPECT_FALSE(banner->isHidden());
}

TEST_F(TRABannerPlacementTest, BeforeSystemVersion8TheApplicationForwardsTheRotation) {
    profile().systemVersion = "7.0";
    auto banner = makeBanner(TRAAdOrigin_Top);
    showFirstPage(banner);
    EXPECT_EQ(banner->frame().origin.y, 20);
    auto app = UIApplication::sharedApplication();
    app->simulateStatusBarOrientation(UIInterfaceOrientationLandscapeRight);
    EXPECT_TRUE(banner->isHidden());
    EXPECT_FALSE(banner->isRotationLoad());
    banner->didRotateFromInterfaceOrientation(UIInterfaceOrientationPortrait);
    EXPECT_EQ(banner->bannerSize(), TRA_PortraitAdSize_320x50);  // no size swap before 9.0
    driver().advance(TRABannerView::kRevealDelay);
    EXPECT_FALSE(banner->isHidden());
    // Within the family (landscape to landscape): the reveal only.
    app->simulateStatusBarOrientation(UIInterfaceOrientationLandscapeLeft);
    banner->didRotateFromInterfaceOrientation(UIInterfaceOrientationLandscapeRight);
    driver().advance(TRABannerView::kRevealDelay);
    EXPECT_FALSE(banner->isHidden());
    EXPECT_EQ(bannerRequests().size(), 1u);
}

TEST_F(TRABannerPlacementTest, CellBannersGetTagsFromAMillionAndRepeatEveryNSections) {
    auto first = makeBanner(TRAAdOrigin_Top, TRA_PortraitAdSize_320x50, false);
    auto second = makeBanner(TRAAdOrigin_Top, TRA_PortraitAdSize_320x50, false);
    showFirstPage(first);
    ASSERT_TRUE(finishLoad(second));
    auto cell = UITableViewCell::alloc()->initWithStyle(UITableViewCellStyleDefault, std::string("row"));
    auto other = UITableViewCell::alloc()->initWithStyle(UITableViewCellStyleDefault, std::string("row"));

    first->addSTABannerToCellWithIndexPathAtIntexPathSection(cell, NSIndexPath::indexPathForRow(0, 5), 1, 2);
    second->addSTABannerToCellWithIndexPathAtIntexPathRow(other, NSIndexPath::indexPathForRow(2, 0), 2);
    EXPECT_EQ(first->tag(), TRABannerView::kFirstCellTag);
    EXPECT_EQ(second->tag(), TRABannerView::kFirstCellTag + 1);
    EXPECT_EQ(first->superview(), cell->contentView());
    EXPECT_EQ(first->rootView(), cell);
    EXPECT_FALSE(first->isHidden());

    // A cell that is not the banner's hides the banner found there.
    first->addSTABannerToCellWithIndexPathAtIntexPathSection(cell, NSIndexPath::indexPathForRow(0, 4), 1, 2);
    EXPECT_TRUE(first->isHidden());
    // repeatEach 0 means no repetition.
    first->addSTABannerToCellWithIndexPathAtIntexPathSection(cell, NSIndexPath::indexPathForRow(0, 3), 1, 0);
    first->addSTABannerToCellWithIndexPathAtIntexPathSection(cell, NSIndexPath::indexPathForRow(0, 1), 1, 0);
    EXPECT_EQ(first->tag(), TRABannerView::kFirstCellTag);
    EXPECT_FALSE(first->isHidden());
}

}  // namespace

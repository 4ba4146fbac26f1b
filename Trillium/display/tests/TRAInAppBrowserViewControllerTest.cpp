// The in-app browser against the landing pages of the Trillium service: its
// router, store links through the store sheet (identifiers, a visit, a
// failure, a load that ends after the browser closed), the header's states
// and host label, the layout in the three orientation modes at the default
// system version and at 7.0, and whether its close is animated.
#include "Trillium/TRAAdCache.h"
#include "Trillium/display/tests/TrilliumScreenTestSupport.h"
#include "platform/foundation/NSBundle.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"
#include "platform/testing/SnapshotComparison.h"
#include "platform/ui/UIScreen.h"

namespace {

using platform::testing::StoreSheet;
using simulator::TrilliumClickChains;

class TRABrowserStoreDelegate : public NSObject, public TRASmartRedirectWebViewDelegate {
public:
    void didCloseInAppStore() override { ++closes; }
    PLATFORM_RESPONDS_TO("didCloseInAppStore")
    int closes = 0;
};

class TRAInAppBrowserViewControllerTest : public TrilliumScreenTest {
protected:
    // Opens the browser as the ad screens do; lets the page load.
    Ref<TRAInAppBrowserViewController> open(const std::string& url) {
        TRAAdSDKUtils::openInAppBrowserWithURL(url, storeDelegate);
        EXPECT_TRUE(driver().settle(10));
        driver().advance(0.5);
        return browser();
    }
    bool route(const Ref<TRAInAppBrowserViewController>& b, const std::string& url) {
        return b->webViewShouldStartLoadWithRequest(b->webView(), *NSURLRequest::requestWithURL(NSURL::URLWithString(url)),
                                                    UIWebViewNavigationTypeLinkClicked);
    }
    static void setModes(std::vector<std::string> orientations) {
        Value::Array list;
        for (auto& o : orientations) list.push_back(Value(o));
        NSBundle::mainBundle()->setInfoDictionaryValue("UISupportedInterfaceOrientations", Value(list));
    }
    static std::optional<NSData> png(const Ref<UIButton>& button) {
        return UIImagePNGRepresentation(button->backgroundImageForState(platform::UIControlStateNormal));
    }
    static std::optional<NSData> resource(const char* name) {
        return UIImagePNGRepresentation(TRAAdSDKUtils::getResourcesImageFromString(name));
    }

    Ref<TRABrowserStoreDelegate> storeDelegate = NSObject::alloc<TRABrowserStoreDelegate>();
};

TEST_F(TRAInAppBrowserViewControllerTest, TheRouterLoadsWebPagesAndHandsEverythingElseOver) {
    auto b = open(chains.landingUrl());
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(TRAAdSDKUtils::TRAInAppBrowserViewControllerDisplayed());
    EXPECT_FALSE(TRAAdCache::sharedInstance()->allowAutoRotate());
    EXPECT_FALSE(b->webViewShouldStartLoadWithRequest(b->webView(), NSURLRequest(), UIWebViewNavigationTypeOther));
    EXPECT_FALSE(route(b, "about:blank"));
    EXPECT_TRUE(route(b, "https://www.example.com/page"));
    EXPECT_TRUE(route(b, std::string("http://") + TrilliumClickChains::kStoreWebHost + "/app/id1"));
    EXPECT_FALSE(route(b, "mailto:someone@example.com"));
    EXPECT_FALSE(route(b, "trilliumgame://level/1"));  // nothing opens it
    EXPECT_EQ(openedURLs(), std::vector<std::string>{"mailto:someone@example.com"});
    EXPECT_EQ(topController(), b);

    // A store link without the in-app store: the browser closes and the system takes it.
    EXPECT_FALSE(route(b, TrilliumClickChains::storeUrl()));
    EXPECT_EQ(openedURLs().back(), TrilliumClickChains::storeUrl());
    EXPECT_TRUE(b->isClosed());
    EXPECT_TRUE(TRAAdCache::sharedInstance()->allowAutoRotate());
    EXPECT_TRUE(StoreSheet::loadedParameters().empty());
}

TEST_F(TRAInAppBrowserViewControllerTest, AStoreVisitShowsTheSheetOverTheBrowserAndClosesBothAfter) {
    setSwitch("TRAInAppStoreEnabled", Value(1));
    StoreSheet::setNextResult(StoreSheet::Loads);
    auto b = open(chains.landingUrl());
    ASSERT_NE(b, nullptr);
    tap(b->webView(), "store");
    ASSERT_EQ(StoreSheet::loadedParameters().size(), 1u);
    EXPECT_EQ(StoreSheet::loadedParameters()[0]["id"].stringValue(), TrilliumClickChains::kStoreProductId);
    auto sheet = storeSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->presentingViewController(), b);
    EXPECT_FALSE(TRAAdCache::sharedInstance()->allowAutoRotate());

    StoreSheet::simulateUserClose(sheet);
    driver().advance(1);
    EXPECT_EQ(storeDelegate->closes, 1);
    EXPECT_TRUE(b->isClosed());
    EXPECT_EQ(topController(), rootViewController());
    EXPECT_TRUE(TRAAdCache::sharedInstance()->allowAutoRotate());
    EXPECT_TRUE(openedURLs().empty());
}

TEST_F(TRAInAppBrowserViewControllerTest, StoreIdentifiersAndASheetThatCannotLoad) {
    setSwitch("TRAInAppStoreEnabled", Value(1));
    StoreSheet::setNextResult(StoreSheet::Fails);
    auto b = open(chains.landingUrl());
    std::string noId = std::string("itms-apps://") + TrilliumClickChains::kStoreWebHost + "/app/game?mt=8";
    EXPECT_FALSE(route(b, noId));
    driver().drain();
    ASSERT_EQ(StoreSheet::loadedParameters().size(), 1u);
    EXPECT_EQ(StoreSheet::loadedParameters()[0]["id"].stringValue(), noId.substr(0, noId.find('?')));
    EXPECT_EQ(openedURLs(), std::vector<std::string>{noId});
    EXPECT_TRUE(b->isClosed());
    auto events = analyticsEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].category, "3");
    EXPECT_EQ(events[0].value, "inAppStore Error");
    EXPECT_EQ(events[0].details, noId);

    StoreSheet::setNextResult(StoreSheet::Fails);
    auto second = open(chains.landingUrl());
    EXPECT_FALSE(route(second, "itms-appss://x/id1/more/id77?x=1&y=2"));
    driver().drain();
    EXPECT_EQ(StoreSheet::loadedParameters().back()["id"].stringValue(), "77");
}

TEST_F(TRAInAppBrowserViewControllerTest, AStoreLoadThatEndsAfterTheBrowserClosedChangesNothing) {
    setSwitch("TRAInAppStoreEnabled", Value(1));
    StoreSheet::hold();
    auto b = open(chains.landingUrl());
    tap(b->webView(), "store");
    b->closeButtonMethod();
    StoreSheet::completePending(true);
    driver().advance(1);
    EXPECT_EQ(topController(), rootViewController());
    EXPECT_TRUE(TRAAdCache::sharedInstance()->allowAutoRotate());

    StoreSheet::hold();
    auto second = open(chains.landingUrl());
    tap(second->webView(), "store");
    second->closeButtonMethod();
    StoreSheet::completePending(false);
    driver().advance(1);
    EXPECT_TRUE(openedURLs().empty());
    EXPECT_EQ(analyticsValues(), std::vector<std::string>{"inAppStore Error"});
}

TEST_F(TRAInAppBrowserViewControllerTest, TheHeaderShowsLoadingThenTitleAndHostThenTheNavigationButtons) {
    TRAAdSDKUtils::openInAppBrowserWithURL(chains.landingUrl(), storeDelegate);
    auto b = browser();
    ASSERT_NE(b, nullptr);
    const int32_t n = b->navigationBarHeight();
    EXPECT_EQ(n, 50);  // portrait only: a fixed mode from 8.0
    EXPECT_EQ(b->headerViewFirstLabel()->text(), std::optional<std::string>("Loading..."));
    EXPECT_FLOAT_EQ(b->headerViewFirstLabel()->frame().origin.y, n - 40);
    EXPECT_TRUE(b->backButton()->isHidden());

    ASSERT_TRUE(driver().settle(10));
    EXPECT_EQ(b->headerViewFirstLabel()->text(), std::optional<std::string>(TrilliumClickChains::kLandingTitle));
    EXPECT_FLOAT_EQ(b->headerViewFirstLabel()->frame().origin.y, n - 50);
    std::string host = chains.landingUrl().substr(7);
    EXPECT_EQ(b->headerViewSecondLabel()->text(), std::optional<std::string>(host.substr(0, host.find('/'))));
    EXPECT_TRUE(b->backButton()->isHidden());
    EXPECT_EQ(png(b->backButton()), resource("arrow@2x"));

    tap(b->webView(), "details");
    ASSERT_TRUE(driver().settle(10));
    EXPECT_EQ(b->headerViewFirstLabel()->text(), std::optional<std::string>("Offer details"));
    EXPECT_FALSE(b->backButton()->isHidden());
    EXPECT_FALSE(b->forwardButton()->isHidden());
    EXPECT_FLOAT_EQ(b->headerViewFirstLabel()->frame().origin.x, 90);
    EXPECT_EQ(b->headerViewSecondLabel()->textAlignment(), NSTextAlignmentCenter);
    EXPECT_EQ(png(b->backButton()), resource("arrow_dark@2x"));
    EXPECT_EQ(png(b->forwardButton()), resource("arrow@2x"));

    b->backButton()->sendActionsForControlEvents(platform::UIControlEventTouchUpInside);
    ASSERT_TRUE(driver().settle(10));
    EXPECT_EQ(b->headerViewFirstLabel()->text(), std::optional<std::string>(TrilliumClickChains::kLandingTitle));
    EXPECT_FALSE(b->backButton()->isHidden());  // never hidden again
    EXPECT_EQ(png(b->forwardButton()), resource("arrow_dark@2x"));

    b->browserButton()->sendActionsForControlEvents(platform::UIControlEventTouchUpInside);
    EXPECT_EQ(openedURLs(), std::vector<std::string>{chains.landingUrl()});
    EXPECT_EQ(topController(), b);
}

struct TRABrowserLayoutCase {
    const char* version;
    std::vector<std::string> modes;
    int64_t statusBar;
    int32_t bar;     // N
    CGFloat width;   // W
    bool hiddenUntilShown;
};

TEST_F(TRAInAppBrowserViewControllerTest, TheLayoutFollowsTheModeAndTheSystemVersion) {
    const std::string portrait = "UIInterfaceOrientationPortrait", landscape = "UIInterfaceOrientationLandscapeLeft";
    const CGFloat screenWidth = UIScreen::mainScreen()->bounds().size.width;
    const CGFloat screenHeight = UIScreen::mainScreen()->bounds().size.height;
    const TRABrowserLayoutCase cases[] = {
        {"9.0", {portrait}, 1, 50, screenWidth, false},
        {"9.0", {portrait, landscape}, 1, 70, screenWidth, false},
        {"9.0", {landscape}, 1, 50, screenWidth, false},
        {"7.0", {portrait, landscape}, 1, 70, screenWidth, false},
        {"7.0", {portrait, landscape}, 3, 50, screenHeight, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.version) + " modes " + std::to_string(c.modes.size()) + " bar " + std::to_string(c.statusBar));
        profile().systemVersion = c.version;
        setModes(c.modes);
        UIApplication::sharedApplication()->simulateStatusBarOrientation(c.statusBar);
        auto b = TRAInAppBrowserViewController::alloc()->initWithURL(chains.landingUrl(), nullptr);
        b->loadView();
        const int32_t n = b->navigationBarHeight();
        EXPECT_EQ(n, c.bar);
        const CGFloat w = b->applicationFrame().size.width, h = b->applicationFrame().size.height;
        EXPECT_FLOAT_EQ(w, c.width);
        EXPECT_TRUE(CGRectEqualToRect(b->webView()->frame(), CGRectMake(0, n, w, h - n)));
        EXPECT_TRUE(CGRectEqualToRect(b->closeButton()->frame(), CGRectMake(w - 39, n - 40, 28, 28)));
        EXPECT_TRUE(CGRectEqualToRect(b->browserButton()->frame(), CGRectMake(w - 82, n - 40, 28, 28)));
        EXPECT_TRUE(CGRectEqualToRect(b->backButton()->frame(), CGRectMake(11, n - 40, 28, 28)));
        EXPECT_TRUE(CGRectEqualToRect(b->shadowLine()->frame(), CGRectMake(0, n, w, 1)));
        EXPECT_TRUE(CGRectEqualToRect(b->progressView()->frame(), CGRectMake(0, n + 1, w, 4)));
        EXPECT_TRUE(CGRectEqualToRect(b->headerViewSecondLabel()->frame(), CGRectMake(10, n - 30, w - 180, 30)));
        EXPECT_EQ(b->headerView()->isHidden(), c.hiddenUntilShown);
        b->setObjectsAccordingToOrientation();  // any re-layout moves the browser button by two points
        EXPECT_TRUE(CGRectEqualToRect(b->browserButton()->frame(), CGRectMake(w - 84, n - 40, 28, 28)));
        UIApplication::sharedApplication()->simulateStatusBarOrientation(1);
    }
}

TEST_F(TRAInAppBrowserViewControllerTest, ClosingIsAnimatedUnlessTheDeviceIsHeldAgainstTheMode) {
    auto b = open(chains.landingUrl());
    b->closeButton()->sendActionsForControlEvents(platform::UIControlEventTouchUpInside);
    driver().drain();
    EXPECT_NE(b->view()->window(), nullptr);  // the animated dismissal takes 0.3 s
    driver().advance(0.3);
    EXPECT_EQ(b->view()->window(), nullptr);

    auto second = open(chains.landingUrl());
    UIDevice::currentDevice()->simulateOrientation(3);  // landscape against a portrait-only application
    second->closeButtonMethod();
    driver().drain();
    EXPECT_EQ(second->view()->window(), nullptr);
    EXPECT_TRUE(TRAAdCache::sharedInstance()->allowAutoRotate());
}

TEST_F(TRAInAppBrowserViewControllerTest, TheBrowserIsDrawnAsItsReference) {
    auto b = open(chains.landingUrl());
    ASSERT_NE(b, nullptr);
    driver().advance(1);  // the completed progress bar has faded out
    // The host label carries the loopback port: a fixed name stands in for it.
    b->headerViewSecondLabel()->setText(std::string("offers.example"));
    EXPECT_TRUE(platform::testing::SnapshotComparison::windowMatchesReference(
        window(), "Trillium/display/tests/data/in-app-browser.png", home()));
}

TEST_F(TRAInAppBrowserViewControllerTest, ReplacingWidthAndHeightDropsTheFraction) {
    auto b = TRAInAppBrowserViewController::alloc()->initWithURL(chains.landingUrl(), nullptr);
    b->setApplicationFrame(CGRectMake(0, 0, 320, 567.5f));
    b->replaceWidthAndHeightApplicationFrame();
    EXPECT_TRUE(CGRectEqualToRect(b->applicationFrame(), CGRectMake(0, 0, 567, 320)));
}

}  // namespace
